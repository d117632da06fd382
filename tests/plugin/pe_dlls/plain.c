/* A test DLL with only plain dot-named sections and no imports at all. */
int __stdcall plain_a(int x) { return x * 2; }
int plain_data = 3;
