#pragma once

#include <string>

/// Shows a modal information notice with one "Aceptar" button and returns once the visitor has
/// confirmed it (a click, or Return, since the button has the focus), or an end signal has
/// come (EndSignals.h). Returns false, without waiting, when no display can be opened for it.
bool showLoadingNotice(const std::string& caption, const std::string& text);
