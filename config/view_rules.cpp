// View bindings and view lists of cells and of instances, and the object view
// strings, which this library does not keep.
#include "COM_morvent_zel_ZelConfig.h"
#include "door.h"

using door::OnConfig;

namespace {

// A cell rule without the value asked for, or with an empty one, reads as none.
jstring nonEmptyJavaString(JNIEnv* env, const char* text) {
    return text != nullptr && text[0] != '\0' ? env->NewStringUTF(text) : nullptr;
}

}  // namespace

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelConfig_getCellViewBinding(JNIEnv* env, jobject self,
                                                                                      jstring lib, jstring cell) {
    return door::with<OnConfig>(env, self, jstring{nullptr}, {lib, cell},
                             [env](ConfigRecord* config, NativeStrings& strings) {
                                 CellRecord* found = zelFindCell(config, strings[0], strings[1]);
                                 if (found == nullptr || found->viewBinding == nullptr) return jstring{nullptr};
                                 return nonEmptyJavaString(env, found->viewBinding->viewName);
                             });
}

extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelConfig_getCellViewList(JNIEnv* env, jobject self,
                                                                                   jstring lib, jstring cell) {
    return door::with<OnConfig>(env, self, jstring{nullptr}, {lib, cell},
                             [env](ConfigRecord* config, NativeStrings& strings) {
                                 CellRecord* found = zelFindCell(config, strings[0], strings[1]);
                                 strings.release();
                                 return found != nullptr ? nonEmptyJavaString(env, found->viewList) : nullptr;
                             });
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_replaceCellViewBinding(JNIEnv* env,
                                                                                           jobject self, jstring lib,
                                                                                           jstring cell,
                                                                                           jstring view) {
    return door::boolean<OnConfig>(env, self, zelReplaceCellViewBinding, lib, cell, view);
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_replaceCellViewList(JNIEnv* env, jobject self,
                                                                                        jstring lib, jstring cell,
                                                                                        jstring viewList) {
    return door::boolean<OnConfig>(env, self, zelReplaceCellViewList, lib, cell, viewList);
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_deleteCellViewBinding(JNIEnv* env,
                                                                                          jobject self, jstring lib,
                                                                                          jstring cell) {
    return door::boolean<OnConfig>(env, self, zelDeleteCellViewBinding, lib, cell);
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_deleteCellViewList(JNIEnv* env, jobject self,
                                                                                       jstring lib, jstring cell) {
    return door::boolean<OnConfig>(env, self, zelDeleteCellViewList, lib, cell);
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_replaceInstViewBinding(
    JNIEnv* env, jobject self, jstring lib, jstring cell, jstring view, jstring inst, jstring boundView) {
    return door::boolean<OnConfig>(env, self, zelReplaceInstViewBinding, lib, cell, view, inst, boundView);
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_replaceInstViewList(
    JNIEnv* env, jobject self, jstring lib, jstring cell, jstring view, jstring inst, jstring viewList) {
    return door::boolean<OnConfig>(env, self, zelReplaceInstViewList, lib, cell, view, inst, viewList);
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_deleteInstViewBinding(
    JNIEnv* env, jobject self, jstring lib, jstring cell, jstring view, jstring inst) {
    return door::boolean<OnConfig>(env, self, zelDeleteInstViewBinding, lib, cell, view, inst);
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_deleteInstViewList(
    JNIEnv* env, jobject self, jstring lib, jstring cell, jstring view, jstring inst) {
    return door::boolean<OnConfig>(env, self, zelDeleteInstViewList, lib, cell, view, inst);
}

// The object view strings are accepted for compatibility and change nothing;
// their strings are obtained and released like any other native's.
extern "C" JNIEXPORT jstring JNICALL Java_COM_morvent_zel_ZelConfig_getObjViewString(
    JNIEnv* env, jobject self, jstring lib, jstring cell, jstring view, jstring inst) {
    return door::with<OnConfig>(env, self, jstring{nullptr}, {lib, cell, view, inst},
                             [](ConfigRecord*, NativeStrings&) { return jstring{nullptr}; });
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_setObjViewString(
    JNIEnv* env, jobject self, jstring lib, jstring cell, jstring view, jstring inst, jstring value) {
    return door::with<OnConfig>(env, self, jboolean{JNI_FALSE}, {lib, cell, view, inst, value},
                             [](ConfigRecord*, NativeStrings&) { return jboolean{JNI_FALSE}; });
}

extern "C" JNIEXPORT jboolean JNICALL Java_COM_morvent_zel_ZelConfig_deleteObjViewString(
    JNIEnv* env, jobject self, jstring lib, jstring cell, jstring view, jstring inst) {
    return door::with<OnConfig>(env, self, jboolean{JNI_FALSE}, {lib, cell, view, inst},
                             [](ConfigRecord*, NativeStrings&) { return jboolean{JNI_FALSE}; });
}
