// demo.h - `varnek demo`: a scripted conversation between two stations of this process.
#pragma once

int Demo(bool help, const char *program);
