// load.h - varnek load: many stations at once against an echoing listener.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Runs `varnek load` with the command's words from index `at` on: 0 when every echo came
// back byte for byte, 3 on any lost or corrupted message, 2 when no station opened,
// 1 on a usage error.
int Load(const std::vector<std::string> &words, size_t at);
