package COM.morvent.zel;

/**
 * Every instance of a level bound in one call: the answers a walk reads after each
 * {@link ZelPathVector#bind}, and whether the walk stops below each instance, for all the
 * instances of the path vector's current cell view at once.
 *
 * <p>{@link #bind} does, for each instance in turn and in one crossing into the native library,
 * what these calls on the path vector do:
 * <pre>{@code
 * pv.bind(inst, lib, cell, view, checkDesign, useOccurrences, allowRecent, listener);
 * // the getCurrent*, is*, getLibListBindWhy and getLibSetOnCellBinding answers
 * pv.isPartOfOccurPath(inst);                              // with occurrencePaths only
 * pv.getRawContextInstViewString(inst, lib, cell, view);   // when that answered true
 * if (!pv.isUnbound() && pv.pushCell(bound lib, cell, view, inst)) {
 *     pv.isAtStop(); pv.getStopWhy();
 *     pv.popCell();
 * }
 * }</pre>
 * and answers in arrays. The path vector is left where it stood, with the last instance's bind
 * as its last binding. The answers are those of the per-call methods of {@link ZelPathVector},
 * each under the name of its method.
 *
 * <p>To walk below instance {@code i}, bind it again with {@link ZelPathVector#bind} before
 * {@link ZelPathVector#pushCell}: the level pushed inherits its lists from the last bind, which
 * after this call is the last instance's.
 *
 * <p>It follows the rules of the other calls: it answers {@code null} on a path vector that was
 * never made or was destroyed and when a warning listener calls it; the library's warnings of
 * each bind go to the listener, in order. When the listener throws, the instance whose bind it
 * warned of is the last one bound and the exception is thrown once the call is done. The configuration's lock is held for the whole level.
 */
public final class ZelLevel {
    static {
        ZelLibrary.ensureLoaded();
    }

    /** isUnbound: bound to open. */
    public static final int UNBOUND = 1;
    /** isCurrentViewSet. */
    public static final int VIEW_SET = 1 << 1;
    /** isCurrentViewListSet. */
    public static final int VIEW_LIST_SET = 1 << 2;
    /** isCurrentOccurBinding. */
    public static final int OCCUR_BINDING = 1 << 3;
    /** isCurrentViewMRU. */
    public static final int VIEW_MRU = 1 << 4;
    /** isInstViewBindingUsed. */
    public static final int INST_VIEW_BINDING_USED = 1 << 5;
    /** isCellViewBindingUsed. */
    public static final int CELL_VIEW_BINDING_USED = 1 << 6;
    /** isLibListInherited. */
    public static final int LIB_LIST_INHERITED = 1 << 7;
    /** isViewListInherited. */
    public static final int VIEW_LIST_INHERITED = 1 << 8;
    /** isPartOfOccurPath of the instance (asked with occurrencePaths only). */
    public static final int PART_OF_OCCUR_PATH = 1 << 9;
    /** pushCell into the binding succeeded (not asked for an instance bound to open). */
    public static final int PUSHED = 1 << 10;
    /** isAtStop in the binding (asked once pushed). */
    public static final int AT_STOP = 1 << 11;

    // The native's layout: answers[0] is the count bound, then STRIDE ints per instance; a
    // string is an index into the table, -1 for null.
    static final int STRIDE = 11;
    private static final int LIB = 0, CELL = 1, VIEW = 2, LIB_LIST = 3, VIEW_LIST = 4, EXPANDED = 5,
            LIB_SET = 6, CONTEXT = 7, WHY = 8, FLAGS = 9, STOP_WHY = 10;
    private static final int OPT_CHECK_DESIGN = 1, OPT_OCCURRENCES = 2, OPT_RECENT = 4, OPT_OCCUR_PATHS = 8;

    private final String[] strings;
    private final int[] answers;
    private final int count;

    private ZelLevel(String[] strings, int[] answers) {
        this.strings = strings;
        this.answers = answers;
        this.count = answers[0];
    }

    /**
     * A level's instances packed once for {@link #bind(ZelPathVector, Instances, boolean, boolean,
     * boolean, boolean, ZelWarningListener)}: a walk that meets a cell view again binds its
     * instances without converting their names again.
     */
    public static final class Instances {
        final byte[] packed;
        final int count;
        // Where each instance's four texts start in packed, and where the last ends.
        final int[] starts;

        /**
         * @param insts the instance names
         * @param libs  the libraries of their masters
         * @param cells the cells of their masters
         * @param views the views of their masters (an element may be {@code null})
         * @throws IllegalArgumentException when the four arrays differ in length
         */
        public Instances(String[] insts, String[] libs, String[] cells, String[] views) {
            count = insts.length;
            if (libs.length != count || cells.length != count || views.length != count) {
                throw new IllegalArgumentException("the instances and their masters' libraries, cells and views differ in number");
            }
            int size = 0;
            for (int i = 0; i < count; ++i) {
                size += packedSize(insts[i]) + packedSize(libs[i]) + packedSize(cells[i]) + packedSize(views[i]);
            }
            packed = new byte[size];
            starts = new int[count + 1];
            int at = 0;
            for (int i = 0; i < count; ++i) {
                starts[i] = at;
                at = pack(insts[i], at);
                at = pack(libs[i], at);
                at = pack(cells[i], at);
                at = pack(views[i], at);
            }
            starts[count] = at;
        }

        /**
         * @return how many instances
         */
        public int count() {
            return count;
        }

        // A byte 0 for null; else a byte 1, the text as the JVM hands strings to native code
        // (modified UTF-8: U+0000 as two bytes, each UTF-16 unit on its own), and a NUL.
        private static int packedSize(String text) {
            if (text == null) return 1;
            int n = 2;
            for (int i = 0; i < text.length(); ++i) {
                char c = text.charAt(i);
                n += c != 0 && c < 0x80 ? 1 : c < 0x800 ? 2 : 3;
            }
            return n;
        }

        private int pack(String text, int at) {
            if (text == null) {
                packed[at] = 0;
                return at + 1;
            }
            packed[at++] = 1;
            for (int i = 0; i < text.length(); ++i) {
                char c = text.charAt(i);
                if (c != 0 && c < 0x80) {
                    packed[at++] = (byte) c;
                } else if (c < 0x800) {
                    packed[at++] = (byte) (0xc0 | c >> 6);
                    packed[at++] = (byte) (0x80 | c & 0x3f);
                } else {
                    packed[at++] = (byte) (0xe0 | c >> 12);
                    packed[at++] = (byte) (0x80 | c >> 6 & 0x3f);
                    packed[at++] = (byte) (0x80 | c & 0x3f);
                }
            }
            packed[at++] = 0;
            return at;
        }
    }

    /**
     * Binds each instance of the path vector's current cell view, in order.
     *
     * @param pv              the path vector, standing at the level the instances are in
     * @param insts           the instance names
     * @param libs            the libraries of their masters
     * @param cells           the cells of their masters
     * @param views           the views of their masters (an element may be {@code null})
     * @param checkDesign     as {@link ZelPathVector#bind}
     * @param useOccurrences  as {@link ZelPathVector#bind}
     * @param allowRecent     as {@link ZelPathVector#bind}
     * @param occurrencePaths whether to ask isPartOfOccurPath and, for an instance on an
     *                        occurrence path, getRawContextInstViewString
     * @param listener        receives the warnings of the binds, or {@code null}
     * @return the answers, or {@code null} when the path vector names none, a listener called,
     *         or the library failed (the listener is told why)
     * @throws IllegalArgumentException when the four arrays differ in length
     */
    public static ZelLevel bind(ZelPathVector pv, String[] insts, String[] libs, String[] cells, String[] views,
                                boolean checkDesign, boolean useOccurrences, boolean allowRecent,
                                boolean occurrencePaths, ZelWarningListener listener) {
        return bind(pv, new Instances(insts, libs, cells, views), checkDesign, useOccurrences, allowRecent,
                    occurrencePaths, listener);
    }

    /**
     * Binds each instance of the path vector's current cell view, in order, the instances packed
     * beforehand.
     *
     * @param pv              the path vector, standing at the level the instances are in
     * @param instances       the instances and their masters
     * @param checkDesign     as {@link ZelPathVector#bind}
     * @param useOccurrences  as {@link ZelPathVector#bind}
     * @param allowRecent     as {@link ZelPathVector#bind}
     * @param occurrencePaths whether to ask isPartOfOccurPath and, for an instance on an
     *                        occurrence path, getRawContextInstViewString
     * @param listener        receives the warnings of the binds, or {@code null}
     * @return the answers, or {@code null} when the path vector names none, a listener called,
     *         or the library failed (the listener is told why)
     */
    public static ZelLevel bind(ZelPathVector pv, Instances instances, boolean checkDesign, boolean useOccurrences,
                                boolean allowRecent, boolean occurrencePaths, ZelWarningListener listener) {
        int options = (checkDesign ? OPT_CHECK_DESIGN : 0) | (useOccurrences ? OPT_OCCURRENCES : 0)
                      | (allowRecent ? OPT_RECENT : 0) | (occurrencePaths ? OPT_OCCUR_PATHS : 0);
        int[] answers = new int[1 + instances.count * STRIDE];
        String[] strings = bindLevel(handle(pv), instances.packed, instances.count, options, answers, listener);
        return strings == null ? null : new ZelLevel(strings, answers);
    }

    /**
     * Binds instance {@code i} again, quietly (its warnings were told when its level was bound),
     * and enters its binding: what {@link ZelPathVector#bind} without a listener and then
     * {@link ZelPathVector#pushCell} into the binding do, in one call. The way into an instance
     * of a level bound at once: the level entered inherits its lists from this bind.
     *
     * @param pv             the path vector, standing where the level was bound
     * @param instances      the level's instances
     * @param i              the instance, from 0
     * @param checkDesign    as {@link ZelPathVector#bind}
     * @param useOccurrences as {@link ZelPathVector#bind}
     * @param allowRecent    as {@link ZelPathVector#bind}
     * @return whether the path vector entered the binding; false also when the instance is bound
     *         to open, the path vector names none or a listener calls
     */
    public static boolean enter(ZelPathVector pv, Instances instances, int i, boolean checkDesign,
                                boolean useOccurrences, boolean allowRecent) {
        if (i < 0 || i >= instances.count) throw new IndexOutOfBoundsException("instance " + i + " of " + instances.count);
        int options = (checkDesign ? OPT_CHECK_DESIGN : 0) | (useOccurrences ? OPT_OCCURRENCES : 0)
                      | (allowRecent ? OPT_RECENT : 0);
        return enterInstance(handle(pv), instances.packed, instances.starts[i], instances.starts[i + 1], options);
    }

    // The natives take the path vector's handle rather than the object: read here, it costs the
    // call no field look-up. 0 names nothing.
    private static int handle(ZelPathVector pv) {
        return pv == null ? 0 : pv.pathvector;
    }

    private static native boolean enterInstance(int pv, byte[] packed, int start, int end, int options);

    private static native String[] bindLevel(int pv, byte[] packed, int count, int options, int[] answers,
                                             ZelWarningListener listener);

    /**
     * How many instances were bound: all of those given.
     *
     * @return the number of instances
     */
    public int count() {
        return count;
    }

    private int at(int i, int field) {
        if (i < 0 || i >= count) throw new IndexOutOfBoundsException("instance " + i + " of " + count);
        return answers[1 + i * STRIDE + field];
    }

    private String string(int i, int field) {
        int k = at(i, field);
        return k < 0 ? null : strings[k];
    }

    /**
     * The instance's flags.
     *
     * @param i the instance, from 0
     * @return {@link #UNBOUND}, {@link #VIEW_SET} and the others, or-ed
     */
    public int flags(int i) {
        return at(i, FLAGS);
    }

    /**
     * Whether flags are set.
     *
     * @param i     the instance, from 0
     * @param flags one or more of {@link #UNBOUND}, {@link #VIEW_SET} and the others
     * @return whether all of them are set for the instance
     */
    public boolean is(int i, int flags) {
        return (at(i, FLAGS) & flags) == flags;
    }

    /**
     * @param i the instance, from 0
     * @return the library it is bound to, as {@link ZelPathVector#getCurrentLibBinding()}
     */
    public String getCurrentLibBinding(int i) {
        return string(i, LIB);
    }

    /**
     * @param i the instance, from 0
     * @return the cell it is bound to, as {@link ZelPathVector#getCurrentCellBinding()}
     */
    public String getCurrentCellBinding(int i) {
        return string(i, CELL);
    }

    /**
     * @param i the instance, from 0
     * @return the view it is bound to, as {@link ZelPathVector#getCurrentViewBinding()}
     */
    public String getCurrentViewBinding(int i) {
        return string(i, VIEW);
    }

    /**
     * @param i the instance, from 0
     * @return the libraries searched, as {@link ZelPathVector#getCurrentLibList()}
     */
    public String getCurrentLibList(int i) {
        return string(i, LIB_LIST);
    }

    /**
     * @param i the instance, from 0
     * @return the view list as its rule holds it, as {@link ZelPathVector#getCurrentViewList()}
     */
    public String getCurrentViewList(int i) {
        return string(i, VIEW_LIST);
    }

    /**
     * @param i the instance, from 0
     * @return the view list expanded, as {@link ZelPathVector#getCurrentExpandedViewList()}
     */
    public String getCurrentExpandedViewList(int i) {
        return string(i, EXPANDED);
    }

    /**
     * @param i the instance, from 0
     * @return the library the cell rule's list set, as {@link ZelPathVector#getLibSetOnCellBinding()}
     */
    public String getLibSetOnCellBinding(int i) {
        return string(i, LIB_SET);
    }

    /**
     * @param i the instance, from 0
     * @return as {@link ZelPathVector#getRawContextInstViewString}; null when not asked (without occurrencePaths, or off occurrence paths)
     */
    public String getRawContextInstViewString(int i) {
        return string(i, CONTEXT);
    }

    /**
     * @param i the instance, from 0
     * @return which rule supplied the library list, as {@link ZelPathVector#getLibListBindWhy()}
     */
    public int getLibListBindWhy(int i) {
        return at(i, WHY);
    }

    /**
     * @param i the instance, from 0
     * @return {@link ZelPathVector#getStopWhy()} in its binding; 0 when not entered ({@link #PUSHED})
     */
    public int getStopWhy(int i) {
        return at(i, STOP_WHY);
    }
}
