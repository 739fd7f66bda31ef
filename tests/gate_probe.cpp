// A library that breaks every rule of cmake/check_so.sh, built the ordinary
// way: the gate must refuse it and name each fault.
#include <sys/stat.h>

#include <string>

std::string zel_probe_export(const char* path) {
    struct stat st {};
    return stat(path, &st) == 0 ? std::string(path) : std::string();
}
