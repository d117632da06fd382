// Image and avatar support belong to the window; the console needs neither.
#include "ui/ui.h"

void hx_img_init() {}
void hx_img_shutdown() {}
void hx_av_init() {}
void hx_av_shutdown() {}
