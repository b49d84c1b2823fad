#pragma once
// Whether an X server is Xwayland: it takes RandR gamma, reads it back exactly, and shows
// none of it, so its outputs must never be counted as filtered.

class X11Connection;

bool isXwayland(X11Connection& connection);
