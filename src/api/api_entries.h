// The addresses plugins reach the API entries through: one small tracing stub
// per entry that records the entry's index, then runs the entry. 32-bit x86
// builds write machine-code trampolines; other builds use generated wrapper
// functions. Internal to the API module.
#pragma once

#include "api/api_list.h"

// Fills `addresses` in entry order, once. False when the stubs could not be
// made; the entries' own functions are filled in then.
bool api_entries_make(void* addresses[HX_API_COUNT]);

// The entry whose stub holds `address` (its start, or a return address into
// it); -1 for an address outside every stub.
int api_entry_index(const void* address);
