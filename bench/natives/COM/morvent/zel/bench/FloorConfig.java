package COM.morvent.zel.bench;

/**
 * The floor of the configuration natives: objects shaped like a {@code ZelConfig} (an int field
 * {@code id}) whose natives, in the bench's own library {@code zelbenchfloor}, do only the JNI
 * calls that a native of that kind must make.
 */
final class FloorConfig {
    static {
        System.loadLibrary("zelbenchfloor");
    }

    /** The handle, read by the natives as the bridge reads {@code ZelConfig.id}. */
    public int id;

    FloorConfig(int id) {
        this.id = id;
    }

    // The bare operations.
    native void empty();

    native int handle();

    native String stringResult();

    native int oneString(String a);

    native int threeStrings(String a, String b, String c);

    native int listener(Object listener);

    // The floors of the kinds of configuration native.
    native String getter();

    native boolean setter3(String a, String b, String c);
}
