#pragma once

namespace marvalo {

class Form1;
class MonitorWindow;

// The ways from the panel to its line monitor, none of which changes the
// panel itself: F2 anywhere in it, a double click on the display, and a
// context menu with "Monitor de línea (F2)" and "Copiar respuesta". Every
// exchange's record reaches the monitor, open or not, and the monitor
// closes with the panel.
void attachMonitor(Form1 &form, MonitorWindow &monitor);

}  // namespace marvalo
