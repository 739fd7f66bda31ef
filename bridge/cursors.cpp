#include "cursors.h"

ConstantCursor constantCursor = {nullptr, nullptr, nullptr};
InstanceCursor instanceCursor = {nullptr, nullptr, nullptr};
std::mutex cursorMutex;

void forgetCursorsOfConfig(ConfigRecord* config) {
    std::lock_guard<std::mutex> guard(cursorMutex);
    if (constantCursor.config == config) constantCursor = ConstantCursor{nullptr, nullptr, nullptr};
    // The path vector itself lives on, but the instance rules it walks belong
    // to the configuration.
    if (instanceCursor.pathVector != nullptr && instanceCursor.pathVector->config == config)
        instanceCursor = InstanceCursor{nullptr, nullptr, nullptr};
}

void forgetCursorsOfPathVector(PathVectorRecord* pathVector) {
    std::lock_guard<std::mutex> guard(cursorMutex);
    if (instanceCursor.pathVector == pathVector) instanceCursor = InstanceCursor{nullptr, nullptr, nullptr};
}
