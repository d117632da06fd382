// Process entry of the host.
#include "host/host.h"

int main(int argc, char** argv) { return hx_host_main(argc, argv); }
