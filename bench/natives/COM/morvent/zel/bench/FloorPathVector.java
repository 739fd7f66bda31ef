package COM.morvent.zel.bench;

import COM.morvent.zel.ZelPathVector;

/**
 * The floor of the path-vector natives: each native does only the JNI calls that a native of its
 * kind must make, on a real {@code ZelPathVector}.
 */
final class FloorPathVector {
    static {
        System.loadLibrary("zelbenchfloor");
    }

    private FloorPathVector() {
    }

    static native boolean query(ZelPathVector pv);

    /** A String result of {@code length} characters, as the answer it stands for. */
    static native String stringQuery(ZelPathVector pv, int length);

    static native boolean push(ZelPathVector pv, String lib, String cell, String view, String inst);

    static native boolean sameInstRules(ZelPathVector pv, String inst, boolean expectLibList, String libList,
                                        boolean expectViewBinding, String viewBinding, boolean expectViewList,
                                        String viewList, boolean occurrenceOverride);

    static native void bind(ZelPathVector pv, String inst, String masterLib, String masterCell, String masterView,
                            boolean checkDesign, boolean useOccurrences, boolean allowRecent, Object listener);
}
