package COM.morvent.zel;

/**
 * A path vector: a cursor over the design hierarchy that a {@link ZelConfig} describes. It is a
 * stack of contexts, one per level, from the top cell down to the current instance. Push a
 * level with {@link #pushCell}, take levels away with {@link #popCell}, {@link #pop} or
 * {@link #popToTop}, bind the current instance with {@link #bind} and query the result with the
 * {@code getCurrent...} and {@code is...} methods, and ask whether the walk stops here with
 * {@link #isAtStop()}.
 *
 * <p>Typical walk:
 * <pre>{@code
 * ZelPathVector path = ZelPathVector.create(config);
 * path.pushCell(topLib, topCell, topView, null);
 * path.isAnyInstRules();                     // caches the context's cell rules
 * path.bind(inst, lib, cell, view, true, true, false, listener);
 * String boundView = path.getCurrentViewBinding();
 * boolean stop = path.isAtStop();
 * ...
 * path.destroy();
 * }</pre>
 *
 * <p>The object holds only an integer handle in {@link #pathvector}; the path vector itself
 * lives in the native library. A {@code null} string parameter means "not given". Every method
 * reports failure through its result ({@code false}, {@code 0} or {@code null}) and throws
 * nothing of its own; called on a handle that was never made or was destroyed, a method does
 * nothing and answers {@code false}, {@code 0} or {@code null}.
 *
 * <p>The binding answers describe the last {@link #bind} of this path vector; moving the path
 * vector does not clear them.
 *
 * <p>Any thread may call these methods; calls take turns under the lock of the path vector's
 * configuration (calls on other configurations run at the same time), and a
 * listener's calls back into the bridge are turned away (see {@link ZelConfig} for the rules).
 * A path vector describes one walk: two threads that move the same path vector interleave their
 * pushes and pops, so give each walking thread a path vector of its own ({@link #create(ZelConfig)}
 * or {@link #copy()}).
 *
 * <p>Handles: a path vector is made by {@link ZelConfig#createNPathVector()} or {@link #copy_n()},
 * which answer an {@code int} handle, and this object holds it. {@link #create(ZelConfig)} and
 * {@link #copy()} do both at once. The object owns the handle: {@link #close()} (also by
 * try-with-resources) or {@link #destroy()} releases it, and so does dropping the object, once it
 * is unreachable. Keep the object reachable while its handle is passed to the occurrence methods
 * of {@link ZelConfig}, and do not wrap one handle in two objects.
 */
public class ZelPathVector implements AutoCloseable {
    static {
        ZelLibrary.ensureLoaded();
    }

    // Declared before the constants: every native looks this field up by name,
    // and the JVM searches a class's fields in declaration order.
    /**
     * Handle of the path vector; 0 when there is none. {@link #destroy()} sets it to 0. Pass it
     * to the occurrence methods of {@link ZelConfig}. Do not change it otherwise.
     */
    public int pathvector;

    /** Destroys the path vector if this object is dropped; null for none. */
    private final ZelCleanup.Handle cleanup;

    /** {@link #getStopWhy()} bit: the default stop list matched. */
    public static final int STOP_DEFAULT_LIST = 0x01;
    /** {@link #getStopWhy()} bit: an instance rule matched. */
    public static final int STOP_INSTANCE_RULE = 0x02;
    /** {@link #getStopWhy()} bit: an occurrence rule matched. */
    public static final int STOP_OCCURRENCE_RULE = 0x04;
    /** {@link #getStopWhy()} bit: a cell rule matched. */
    public static final int STOP_CELL_RULE = 0x08;
    /** {@link #getStopWhy()} bit: a library rule matched. */
    public static final int STOP_LIBRARY_RULE = 0x10;

    /** {@link #getLibListBindWhy()}: the library list came from some other source. */
    public static final int LIB_LIST_OTHER = -1;
    /** {@link #getLibListBindWhy()}: the default library list applies (also: no binding). */
    public static final int LIB_LIST_DEFAULT = 0;
    /** {@link #getLibListBindWhy()}: an instance rule supplied the library list. */
    public static final int LIB_LIST_INSTANCE_RULE = 1;
    /** {@link #getLibListBindWhy()}: a cell rule supplied the library list. */
    public static final int LIB_LIST_CELL_RULE = 2;

    /** Creates an object that holds no path vector (handle 0). */
    public ZelPathVector() {
        this(0);
    }

    /**
     * Takes over a handle returned by {@link ZelConfig#createNPathVector()} or {@link #copy_n()}:
     * the path vector is destroyed when this object is closed, destroyed or dropped.
     *
     * @param handle the path-vector handle; 0 stands for none
     */
    public ZelPathVector(int handle) {
        pathvector = handle;
        cleanup = handle != 0 ? ZelCleanup.watch(this, true, handle) : null;
    }

    /** A wrapper that releases nothing of its own, for {@link #release(int)}. */
    private ZelPathVector(int handle, boolean unwatched) {
        pathvector = handle;
        cleanup = null;
    }

    /**
     * Creates a path vector over an open configuration.
     *
     * @param config the configuration to walk
     * @return the new path vector; its handle is 0 when none could be made (for example when
     *         the configuration is not open)
     */
    public static ZelPathVector create(ZelConfig config) {
        return new ZelPathVector(config.createNPathVector());
    }

    /**
     * Copies this path vector with all its contexts into a new, independent path vector. The
     * binding and stop answers of this one are not copied.
     *
     * @return the handle of the copy, or 0 when none was made; wrap it with
     *         {@link #ZelPathVector(int)} and destroy it when done
     */
    public native int copy_n();

    /**
     * Releases the path vector and sets {@link #pathvector} to 0. Copies of this Java object
     * that still hold the old handle find nothing afterwards.
     */
    public native void destroy();

    /**
     * A copy of this path vector, as {@link #copy_n()} makes, in an object of its own.
     *
     * @return the copy; its handle is 0 when none was made
     */
    public ZelPathVector copy() {
        return new ZelPathVector(copy_n());
    }

    /**
     * Destroys the path vector, as {@link #destroy()}; for try-with-resources. Nothing happens
     * when there is none.
     */
    @Override
    public void close() {
        destroy();
        if (cleanup != null) cleanup.set(0);
    }

    /** Destroys a path vector by its handle, for {@link ZelCleanup}. */
    static void release(int handle) {
        new ZelPathVector(handle, true).destroy();
    }

    // ---------------------------------------------------------------------------------------
    // Navigation

    /**
     * Descends one level: makes the given cell view, reached through instance {@code inst},
     * the new current context. For the top level {@code inst} is usually {@code null}.
     *
     * @param lib  library of the cell view
     * @param cell cell of the cell view
     * @param view view of the cell view
     * @param inst instance name through which the level is reached, or {@code null}
     * @return {@code true} when the level was pushed
     */
    public native boolean pushCell(String lib, String cell, String view, String inst);

    /**
     * Removes the current level, undoing one {@link #pushCell}.
     *
     * @return {@code true} when a level was removed
     */
    public native boolean popCell();

    /**
     * Removes the current level, as the configuration library's plain pop does. Call
     * {@link #isAnyInstRules()} again before {@link #isSameInstRules}.
     *
     * @return {@code true} when a level was removed
     */
    public native boolean pop();

    /**
     * Removes every level below the top cell.
     *
     * @return {@code true} on success
     */
    public native boolean popToTop();

    // ---------------------------------------------------------------------------------------
    // Context queries

    /**
     * Instance view string of an object as seen from the current context, without evaluating
     * constants.
     *
     * @param inst       instance of the current level
     * @param masterLib  library of the instance's master
     * @param masterCell cell of the instance's master
     * @param masterView view the instance is placed with, or {@code null}
     * @return the raw view string, or {@code null}
     */
    public native String getRawContextInstViewString(String inst, String masterLib, String masterCell,
            String masterView);

    /**
     * Instance view string of an object as seen from the current context.
     *
     * @param inst       instance of the current level
     * @param masterLib  library of the instance's master
     * @param masterCell cell of the instance's master
     * @param masterView view the instance is placed with, or {@code null}
     * @return the view string, or {@code null}
     */
    public native String getContextInstViewString(String inst, String masterLib, String masterCell,
            String masterView);

    /**
     * Instance view string of an object including what it inherits from the levels above,
     * without evaluating constants.
     *
     * @param inst       instance of the current level
     * @param masterLib  library of the instance's master
     * @param masterCell cell of the instance's master
     * @param masterView view the instance is placed with, or {@code null}
     * @return the raw inherited view string, or {@code null}
     */
    public native String getRawInheritedContextInstViewString(String inst, String masterLib, String masterCell,
            String masterView);

    /**
     * Instance view string of an object including what it inherits from the levels above.
     *
     * @param inst       instance of the current level
     * @param masterLib  library of the instance's master
     * @param masterCell cell of the instance's master
     * @param masterView view the instance is placed with, or {@code null}
     * @return the inherited view string, or {@code null}
     */
    public native String getInheritedContextInstViewString(String inst, String masterLib, String masterCell,
            String masterView);

    /**
     * @param inst instance name in the current context
     * @return the view list set on the instance itself (not inherited), or {@code null}
     */
    public native String getContextUnInheritedInstViewList(String inst);

    /**
     * @param inst instance name in the current context
     * @return the view binding set on the instance itself (not inherited), or {@code null}
     */
    public native String getContextUnInheritedInstViewBinding(String inst);

    /**
     * @param inst instance name in the current context
     * @return the view list set on the instance itself, without evaluating constants, or
     *         {@code null}
     */
    public native String getContextRawUnInheritedInstViewList(String inst);

    /** @return library of the current context, or {@code null} */
    public native String getContextLibName();

    /** @return cell of the current context, or {@code null} */
    public native String getContextCellName();

    /** @return view of the current context, or {@code null} */
    public native String getContextViewName();

    /**
     * @param index level of the context, 0 for the top cell
     * @return library of that context, or {@code null}
     */
    public native String getIndexLibName(int index);

    /**
     * @param index level of the context, 0 for the top cell
     * @return cell of that context, or {@code null}
     */
    public native String getIndexCellName(int index);

    /**
     * @param index level of the context, 0 for the top cell
     * @return view of that context, or {@code null}
     */
    public native String getIndexViewName(int index);

    /**
     * @param index level of the context, 0 for the top cell
     * @return view list in effect at that context, or {@code null}
     */
    public native String getIndexViewList(int index);

    /** @return level of the current context, 0 for the top cell, negative when there is none */
    public native int getContextVectorIndex();

    // ---------------------------------------------------------------------------------------
    // Context instances

    /**
     * Starts listing the instances of the current context that carry instance rules; read them
     * with {@link #getContextNextInstance()}. The cursor is shared by the whole process: run one
     * instance enumeration at a time, over all path vectors.
     *
     * @return {@code true} when there is at least one such instance
     */
    public native boolean enumerateContextInstances();

    /**
     * @return the name of the next instance of the enumeration started by
     *         {@link #enumerateContextInstances()}, or {@code null} at the end
     */
    public native String getContextNextInstance();

    /**
     * Says whether any instance rule applies in the current context. It also remembers the cell
     * rules of the current context for {@link #isSameInstRules}; call it again after each
     * {@link #pushCell} or {@link #popCell()}.
     *
     * @return {@code true} when the current context has instance rules
     */
    public native boolean isAnyInstRules();

    /**
     * @param inst instance name in the current context
     * @return {@code true} when the configuration holds an occurrence for that instance here,
     *         that is, when the instance lies on an occurrence path
     */
    public native boolean isPartOfOccurPath(String inst);

    // ---------------------------------------------------------------------------------------
    // Binding the current instance

    /**
     * Binds an instance of the current context: decides which library, cell and view it uses
     * and which lists apply. The answers stay with this path vector until the next bind and are
     * read with the methods below.
     *
     * @param inst           the instance name
     * @param masterLib      library of the instance's master as placed in the design
     * @param masterCell     cell of the instance's master
     * @param masterView     view of the instance's master
     * @param checkDesign    whether to check the binding against the design libraries
     * @param useOccurrences whether occurrence rules take part
     * @param allowRecent    whether the most recently used view may be chosen
     * @param listener       receives the warnings of this call, or {@code null}
     */
    public native void bind(String inst, String masterLib, String masterCell, String masterView,
                            boolean checkDesign, boolean useOccurrences, boolean allowRecent,
                            Object listener);

    /**
     * {@link #bind(String, String, String, String, boolean, boolean, boolean, Object)} with a
     * typed listener, so that a lambda can be given.
     *
     * @param inst           the instance name
     * @param masterLib      library of the instance's master as placed in the design
     * @param masterCell     cell of the instance's master
     * @param masterView     view of the instance's master
     * @param checkDesign    whether to check the binding against the design libraries
     * @param useOccurrences whether occurrence rules take part
     * @param allowRecent    whether the most recently used view may be chosen
     * @param listener       receives the warnings of this call, or {@code null}
     */
    public void bind(String inst, String masterLib, String masterCell, String masterView,
                     boolean checkDesign, boolean useOccurrences, boolean allowRecent,
                     ZelWarningListener listener) {
        bind(inst, masterLib, masterCell, masterView, checkDesign, useOccurrences, allowRecent, (Object) listener);
    }

    /**
     * Forgets the library, cell and view of the last binding, so {@link #getCurrentLibBinding()}
     * and the like answer as before any bind. The lists and flags of the last binding stay.
     */
    public native void resetCurrentBinding();

    /** @return library the current instance is bound to, or {@code null} */
    public native String getCurrentLibBinding();

    /** @return cell the current instance is bound to, or {@code null} */
    public native String getCurrentCellBinding();

    /** @return view the current instance is bound to, or {@code null} */
    public native String getCurrentViewBinding();

    /** @return library list used for the binding, libraries separated by single blanks, or {@code null} */
    public native String getCurrentLibList();

    /** @return view list used for the binding with its references expanded, views separated by single blanks, or {@code null} */
    public native String getCurrentExpandedViewList();

    /**
     * @return view list as written in the rule that supplied it, an empty string when it came
     *         from a source without its own text, or {@code null} when there is none
     */
    public native String getCurrentViewList();

    /**
     * @return which rule supplied the library list: {@link #LIB_LIST_DEFAULT} (0),
     *         {@link #LIB_LIST_INSTANCE_RULE} (1), {@link #LIB_LIST_CELL_RULE} (2) or
     *         {@link #LIB_LIST_OTHER} (-1)
     */
    public native int getLibListBindWhy();

    /** @return whether an instance rule sets the view that the instance binds to */
    public native boolean isCurrentViewSet();

    /** @return whether an instance rule sets the view list (not inherited) */
    public native boolean isCurrentViewListSet();

    /** @return whether an occurrence rule decided the binding */
    public native boolean isCurrentOccurBinding();

    /** @return whether the most recently used view was chosen */
    public native boolean isCurrentViewMRU();

    /** @return whether an instance view binding was used */
    public native boolean isInstViewBindingUsed();

    /** @return whether a cell view binding was used */
    public native boolean isCellViewBindingUsed();

    /** @return whether the library list was inherited from a level above */
    public native boolean isLibListInherited();

    /** @return whether the view list was inherited from a level above */
    public native boolean isViewListInherited();

    /**
     * @return the library named by the cell view binding that decided the binding, or
     *         {@code null} when no cell binding was used or it names no library
     */
    public native String getLibSetOnCellBinding();

    /** @return whether the last binding left the instance unbound (bound to open) */
    public native boolean isUnbound();

    // ---------------------------------------------------------------------------------------
    // Instance-rule comparison

    /**
     * Says whether the instance rules that apply to an instance of the current context are
     * exactly the given ones. For each of the three values, {@code expect...} says whether a
     * rule value must be present (then it must equal the given text exactly) or absent. An
     * instance on an occurrence path never counts as the same. Call {@link #isAnyInstRules()}
     * first so that the rules found for the current cell by name take part.
     *
     * @param inst               the instance name
     * @param expectLibList      whether a library list is expected
     * @param libList            the expected library list
     * @param expectViewBinding  whether a view binding is expected
     * @param viewBinding        the expected view binding
     * @param expectViewList     whether a view list is expected
     * @param viewList           the expected view list
     * @param occurrenceOverride when {@code true}, the answer is {@code false}
     * @return {@code true} when the rules match
     */
    public native boolean isSameInstRules(String inst, boolean expectLibList, String libList,
                                          boolean expectViewBinding, String viewBinding,
                                          boolean expectViewList, String viewList,
                                          boolean occurrenceOverride);

    // ---------------------------------------------------------------------------------------
    // Stop queries

    /**
     * Says whether the walk stops at the current position, and remembers the matching stop
     * rules for {@link #getStopWhy()}.
     *
     * @return {@code true} when at least one stop rule matches here
     */
    public native boolean isAtStop();

    /**
     * Says which kinds of rule made the last {@link #isAtStop()} stop; it does not look at the
     * current position again.
     *
     * @return a bit mask of {@link #STOP_DEFAULT_LIST} (0x01), {@link #STOP_INSTANCE_RULE}
     *         (0x02), {@link #STOP_OCCURRENCE_RULE} (0x04), {@link #STOP_CELL_RULE} (0x08) and
     *         {@link #STOP_LIBRARY_RULE} (0x10); 0 when nothing matched
     */
    public native int getStopWhy();

    @Override
    public String toString() {
        return "ZelPathVector[pathvector=" + pathvector + "]";
    }
}
