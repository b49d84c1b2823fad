// Test entry: a QApplication on the offscreen platform (unless a display is asked for) and
// private XDG folders, so no test touches the user's settings or runtime files.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

int main(int argc, char** argv)
{
    QTemporaryDir home;
    for (auto [folder, variable] : {std::pair {"config", "XDG_CONFIG_HOME"}, {"data", "XDG_DATA_HOME"}, {"runtime", "XDG_RUNTIME_DIR"}}) {
        const QString path = home.path() + u'/' + QLatin1String(folder);
        QDir().mkpath(path);
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        qputenv(variable, path.toLocal8Bit());
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
