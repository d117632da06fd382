# Which platform layer and which optional services this target gets.
if(WIN32)
  set(HX_OS win32)
  set(HX_HAVE_HTTP ON)
  add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX UNICODE _UNICODE _WIN32_WINNT=0x0601)
  # Static runtime: wine and users' machines need no MinGW DLLs beside the program.
  add_link_options(-static -static-libgcc -static-libstdc++)
else()
  set(HX_OS posix)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    # No i386 libcurl/OpenSSL on the build machines: those services are compiled as unavailable.
    set(HX_HAVE_HTTP OFF)
    # 64-bit file offsets, inode numbers and time: without them readdir and
    # stat fail with EOVERFLOW on large file systems, and times end in 2038.
    add_compile_definitions(_FILE_OFFSET_BITS=64 _TIME_BITS=64)
  else()
    set(HX_HAVE_HTTP ON)
  endif()
endif()

if(CMAKE_CROSSCOMPILING_EMULATOR)
  # Emulated tests (qemu, wine) are slower: tests scale their deadlines by this.
  set(HX_TEST_TIMEOUT_SCALE 4)
else()
  set(HX_TEST_TIMEOUT_SCALE 1)
endif()
