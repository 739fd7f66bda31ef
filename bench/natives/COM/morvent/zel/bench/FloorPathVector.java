package COM.morvent.zel.bench;

/**
 * The floor of the path-vector natives: objects shaped like a {@code ZelPathVector} (an int
 * field {@code pathvector}) whose natives do only the JNI calls that a native of that kind must
 * make.
 */
final class FloorPathVector {
    static {
        System.loadLibrary("zelbenchfloor");
    }

    /** The handle, read by the natives as the bridge reads {@code ZelPathVector.pathvector}. */
    public int pathvector;

    FloorPathVector(int pathvector) {
        this.pathvector = pathvector;
    }

    native boolean query();

    native String stringQuery();

    native boolean push(String lib, String cell, String view, String inst);

    native boolean sameInstRules(String inst, boolean expectLibList, String libList, boolean expectViewBinding,
                                 String viewBinding, boolean expectViewList, String viewList,
                                 boolean occurrenceOverride);

    native void bind(String inst, String masterLib, String masterCell, String masterView, boolean checkDesign,
                     boolean useOccurrences, boolean allowRecent, Object listener);
}
