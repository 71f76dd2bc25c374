#pragma once

#include <cstdio>
#include <string>

// Opens path for reading in binary mode when it names a regular file. A directory, a FIFO, a
// device or a file that cannot be opened gives nullptr. Opening never blocks, and the test is
// made on the file that was opened, so nothing can be swapped in between.
std::FILE* openRegularFile(const std::string& path);
