#pragma once

#include "files/filesystem.h"

#include <sys/stat.h>

// The stamp of a file from what stat() says of it (see FileStamp).
FileStamp stampOf(const struct stat &status);
