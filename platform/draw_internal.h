#pragma once
// What the drawing layer's own files share; no library header needed.

// The one Pango context every layout is made in (a PangoContext*): the font aliases loaded, greyscale
// antialiasing, unhinted metrics. UI thread.
void* SharedTextContext();
