// The program `edog`: the main update window.
#include "app/RS232TestApp.h"

wxIMPLEMENT_APP(CRS232TestApp);
