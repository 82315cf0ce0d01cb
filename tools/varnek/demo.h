// demo.h - `varnek demo`: a scripted conversation between two stations of this process.
#pragma once

#include <string>
#include <vector>

// words: the command's arguments (--help, --pcap FILE, --serial-pcap FILE).
int Demo(const std::vector<std::string> &words, const char *program);
