#include "cursors.h"

ConstantCursor constantCursor = {nullptr, nullptr};
InstanceCursor instanceCursor = {nullptr, nullptr};

void forgetCursorsOfConfig(ConfigRecord* config) {
    if (constantCursor.config == config) constantCursor = ConstantCursor{nullptr, nullptr};
    // The path vector itself lives on, but the instance rules it walks belong
    // to the configuration.
    if (instanceCursor.pathVector != nullptr && instanceCursor.pathVector->config == config)
        instanceCursor = InstanceCursor{nullptr, nullptr};
}

void forgetCursorsOfPathVector(PathVectorRecord* pathVector) {
    if (instanceCursor.pathVector == pathVector) instanceCursor = InstanceCursor{nullptr, nullptr};
}
