package COM.morvent.zel.bench;

import COM.morvent.zel.ZelConfig;

/**
 * The floor of the configuration natives, in the bench's own library {@code zelbenchfloor}: each
 * native does only the JNI calls that a native of its kind must make, on a real {@code ZelConfig}
 * (its handle field is looked up in that class, as the bridge looks it up).
 */
final class FloorConfig {
    static {
        System.loadLibrary("zelbenchfloor");
    }

    private FloorConfig() {
    }

    // The bare operations.
    static native void empty(ZelConfig config);

    static native int handle(ZelConfig config);

    static native String stringResult(ZelConfig config);

    static native int oneString(ZelConfig config, String a);

    static native int threeStrings(ZelConfig config, String a, String b, String c);

    static native int listener(ZelConfig config, Object listener);

    // The floors of the kinds of configuration native.
    /** A String result of {@code length} characters, as the answer it stands for. */
    static native String getter(ZelConfig config, int length);

    static native boolean setter3(ZelConfig config, String a, String b, String c);
}
