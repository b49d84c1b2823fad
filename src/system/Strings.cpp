// The interface texts, in English, Spanish and Catalan.
#include "system/Localization.h"

const std::vector<Localization::Entry>& Localization::table()
{
    static const std::vector<Entry> entries = {
        {"subtitle", "by Marren", "por Marren", "per Marren"},
        {"warmth", "WARMTH", "CALIDEZ", "CALIDESA"},
        {"brightness", "BRIGHTNESS", "BRILLO", "BRILLANTOR"},
        {"day", "DAY", "DÍA", "DIA"},
        {"evening", "EVENING", "TARDE", "VESPRE"},
        {"night", "NIGHT", "NOCHE", "NIT"},
        {"pwm", "PWM-SAFE MODE", "MODO ANTI-PWM", "MODE ANTI-PWM"},
        {"conflict", "CONFLICT: quit %@", "CONFLICTO: cierra %@", "CONFLICTE: tanca %@"},
        {"colors_desktop", "⚠︎ Desktop blocks colour changes — use its Night Light", "⚠︎ El escritorio bloquea el color — usa su Luz nocturna", "⚠︎ L'escriptori bloqueja el color — usa la Llum nocturna"},
        {"colors_unsupported", "⚠︎ Colours cannot be set on %@", "⚠︎ No se puede cambiar el color de %@", "⚠︎ No es pot canviar el color de %@"},
        {"colours_taken", "Another app keeps changing the colours of %1", "Otra app cambia sin parar los colores de %1", "Una altra app canvia sense parar els colors de %1"},
        {"colours_taken_by", "%1 keeps changing the colours of %2", "%1 cambia sin parar los colores de %2", "%1 canvia sense parar els colors de %2"},
        {"settings", "Settings…", "Ajustes…", "Configuració…"},
        {"about", "About Ambrano", "Acerca de Ambrano", "Quant a Ambrano"},
        {"quit", "Quit", "Salir", "Surt"},
        {"extreme_dim", "Allow Extreme Dim", "Permitir atenuación extrema", "Permet atenuació extrema"},
        {"auto_schedule", "Automatic by time of day", "Automático según la hora (día/tarde/noche)", "Automàtic segons l'hora"},
        {"auto_short", "AUTOMATIC", "AUTOMÁTICO", "AUTOMÀTIC"},
        {"schedule_hours", "Or fixed hours (starts at…)", "O por horas fijas (empieza a las…)", "O per hores fixes (comença a les…)"},
        {"use_solar", "Detect by my location (sunrise/sunset)", "Detectar por mi ubicación (amanecer/atardecer)", "Detecta per la meva ubicació (sortida/posta de sol)"},
        {"detect_location", "Detect location", "Detectar ubicación", "Detecta ubicació"},
        {"detecting", "Detecting…", "Detectando…", "Detectant…"},
        {"no_location", "Location not set", "Ubicación no detectada", "Ubicació no detectada"},
        {"copy_feedback", "COPY FEEDBACK FOR SUPPORT", "COPIAR INFORME PARA SOPORTE", "COPIA INFORME PER A SUPORT"},
        {"copied", "Copied to clipboard", "Copiado al portapapeles", "Copiat al porta-retalls"},
        {"hotkey", "Global hotkey (VESK)", "Atajo global (VESK)", "Drecera global (VESK)"},
        {"language", "Language", "Idioma", "Idioma"},
        {"general", "General", "General", "General"},
        {"about_body", "Blocks 100% blue light and PWM-safe software dimming.", "Bloquea el 100% de la luz azul y aplica atenuación anti-PWM.", "Bloqueja el 100% de la llum blava i aplica atenuació anti-PWM."},
        {"waiting", "WAITING FOR DISPLAY", "ESPERANDO PANTALLA", "ESPERANT PANTALLA"},
        {"unsupported", "UNAVAILABLE", "NO DISPONIBLE", "NO DISPONIBLE"},
        {"flicker_mild", "⚠︎ Possible PWM flicker — turn on PWM-Safe", "⚠︎ Posible parpadeo PWM — activa Anti-PWM", "⚠︎ Possible parpelleig PWM — activa Anti-PWM"},
        {"flicker_severe", "⚠︎ Strong PWM flicker — turn on PWM-Safe", "⚠︎ Parpadeo PWM intenso — activa Anti-PWM", "⚠︎ Parpelleig PWM intens — activa Anti-PWM"},
        {"record", "Change", "Cambiar", "Canvia"},
        {"recording", "Press shortcut…", "Pulsa la combinación…", "Prem la combinació…"},
        {"hotkey_unavailable", "none on this desktop", "ninguno en este escritorio", "cap en aquest escriptori"},
        {"hotkey_taken", "%@ is taken by another program", "%@ ya lo usa otro programa", "%@ ja l'usa un altre programa"},
        {"start_at_login", "Start at login", "Abrir al iniciar sesión", "Obre en iniciar la sessió"},
        {"filter_off", "Filter off", "Filtro apagado", "Filtre apagat"},
        {"filter_on", "Filter on", "Filtro encendido", "Filtre encès"},
    };
    return entries;
}
