package COM.morvent.zel;


/**
 * One hierarchy configuration: the rule set that decides, for each instance of a design
 * hierarchy, which library, cell and view it binds to, where the hierarchy stops, and which
 * library and view lists apply.
 *
 * <p>A configuration names a top cell (library, cell, view), default view, library and stop
 * lists, view bindings and view lists for cells and for instances, rules for single objects and
 * single occurrences, named constants and a free-form note. Walking the hierarchy is done with a
 * {@link ZelPathVector}, created over an open configuration with {@link #createNPathVector()} or
 * {@link ZelPathVector#create(ZelConfig)}.
 *
 * <p>Typical use:
 * <pre>{@code
 * ZelConfig.init(definitionsFile);            // static; once per process
 * ZelWarnings warnings = new ZelWarnings();
 * try (ZelConfig.Closing open = new ZelConfig().closing()) {
 *     ZelConfig config = open.config();
 *     warnings.check(config.open(lib, cell, view, "a", warnings), "open");
 *     config.setDefaultViewListString("schematic symbol");
 *     warnings.check(config.save(warnings), "save");
 *     try (ZelPathVector path = ZelPathVector.create(config)) {
 *         ...
 *     }
 * }
 * }</pre>
 *
 * <p>The object holds only an integer handle in {@link #id}; the configuration itself lives in
 * the native library. Names and lists are passed as strings; wherever a parameter is
 * {@code null} the library takes it as "not given". Every method reports failure through its
 * result ({@code false}, {@code 0} or {@code null}) and throws nothing of its own: in particular
 * every method called on an object that is not open (never opened, failed to open, or closed)
 * answers {@code false}, {@code 0} or {@code null} without doing anything. {@link ZelWarnings}
 * turns a {@code false} answer into a {@link ZelException} that carries the warnings.
 *
 * <p><b>Threads.</b> Every method of this class and of {@link ZelPathVector} may be called from
 * any thread. Each configuration has a lock of its own, shared by the path vectors made over it:
 * calls on one configuration (and on its path vectors) take turns, each seeing the library as
 * one thread would, while calls on different configurations run at the same time. Threads that
 * each walk with their own path vector may share one configuration (they then take turns); an
 * editor may save one configuration while other threads walk others, and a save that waits for
 * another process holds up only the threads of its own configuration. What the lock does not
 * order is the sense of a sequence: the constant enumeration ({@link #enumerateConstants()} and
 * the methods after it) and {@link ZelPathVector#enumerateContextInstances()} have one cursor
 * each in the whole process, and a thread that closes a configuration another thread still
 * walks leaves that thread's path vectors answering from the closed configuration. A
 * The jar's cleanup thread may close and destroy dropped ones from its own thread.
 *
 * <p><b>Listeners.</b> A listener runs on the calling thread while that call holds its
 * configuration's lock. A method of the bridge called from inside {@code processWarning}
 * answers its neutral result ({@code false}, {@code 0}, {@code null}, or nothing) and changes
 * nothing, so that the call that warned can finish on what it started with; the warnings of
 * that call keep arriving, in order. A listener must not wait for another thread that is
 * calling the bridge on the same configuration (through {@code invokeAndWait}, a future's
 * {@code get()}, a lock): that thread waits for the lock the listener's thread holds, and
 * neither goes on. A call that has waited some seconds for a configuration whose holder runs a
 * listener says so on standard error, naming both threads, and goes on waiting. When the JVM
 * exits while a listener holds a configuration (a listener that calls {@code System.exit}, a
 * shutdown hook that closes the configuration), the calls that wait for it give up and answer
 * their neutral result, so that the hooks can finish and the JVM exits.
 *
 * <p>The methods that report warnings take a {@link ZelWarningListener} (a lambda will do) or,
 * in their native form, any object with a public method {@code void processWarning(String)}.
 * The listener may be {@code null}.
 *
 * <p>Closing: {@link #close()} ends the configuration. A configuration opened through a
 * {@link ZelWarningListener} form of {@code open}, {@code openWithType} or {@code openPartial}
 * whose object the program drops without closing is closed once the object is unreachable; one
 * opened through the native {@code Object} form is not, and must be closed.
 */
public class ZelConfig {
    static {
        ZelLibrary.ensureLoaded();
    }

    /**
     * Handle of the open configuration, written by the native library when a configuration is
     * opened: 0 before the first open and after a failed one. {@link #close()} leaves it as it
     * was; the handle then names nothing, and every method answers as for an unopened object.
     * Handles are never used again within a process. Do not change it.
     */
    public int id;

    /** Releases the configuration if this object is dropped open; null until a tracked open. */
    private ZelCleanup.Handle cleanup;

    /** Creates an object with no configuration open ({@code id} 0). */
    public ZelConfig() {
        id = 0;
    }

    // ---------------------------------------------------------------------------------------
    // Initialisation

    /**
     * Initialises the library-access layer. Call once per process before any other method of
     * the bridge; later calls do nothing. An open before it fails, and its listener is told that
     * this was not called.
     *
     * @param libDefsFile path of the library-definitions file, or {@code null} to search the
     *                    setup-file locations for {@code kwo.lib}
     */
    public static native void init(String libDefsFile);

    // ---------------------------------------------------------------------------------------
    // Opening, saving, closing

    /**
     * Opens the configuration stored as the given cell view and attaches it to this object.
     * Close a configuration held by this object before opening another: opening again leaves
     * the earlier one open but no longer reachable.
     *
     * @param lib      library of the configuration
     * @param cell     cell of the configuration
     * @param view     view of the configuration
     * @param mode     access mode, as understood by the configuration library
     * @param listener receives the warnings of this call, or {@code null}
     * @return {@code true} when the configuration was opened; on failure {@link #id} is 0
     */
    public native boolean open(String lib, String cell, String view, String mode, Object listener);

    /**
     * Opens a configuration as {@link #open} does, additionally naming the view type of the
     * configuration view.
     *
     * @param lib      library of the configuration
     * @param cell     cell of the configuration
     * @param view     view of the configuration
     * @param viewType view type of the configuration view
     * @param mode     access mode, as understood by the configuration library
     * @param listener receives the warnings of this call, or {@code null}
     * @return {@code true} when the configuration was opened; on failure {@link #id} is 0
     */
    public native boolean openWithType(String lib, String cell, String view, String viewType,
                                       String mode, Object listener);

    /**
     * Opens a partial configuration from a file and attaches it to this object.
     *
     * @param path     file of the partial configuration
     * @param mode     access mode, as understood by the configuration library
     * @param listener receives the warnings of this call, or {@code null}
     * @return {@code true} when the configuration was opened; on failure {@link #id} is 0
     */
    public native boolean openPartial(String path, String mode, Object listener);

    /**
     * Saves the configuration where it was opened from.
     *
     * @param listener receives the warnings of this call, or {@code null}
     * @return {@code true} when it was saved
     */
    public native boolean save(Object listener);

    /**
     * Saves the configuration as another cell view. This object keeps designating the same
     * configuration.
     *
     * @param lib      library to save to
     * @param cell     cell to save to
     * @param view     view to save to
     * @param listener receives the warnings of this call, or {@code null}
     * @return {@code true} when it was saved
     */
    public native boolean saveAs(String lib, String cell, String view, Object listener);

    /**
     * Closes the configuration. Afterwards every method of this object answers as for an
     * unopened one; {@link #id} keeps its value, which names nothing any more. Path vectors
     * created over it are not destroyed; destroy them first.
     *
     * @return {@code true} when it was closed; {@code false} when nothing was open or the
     *         library refused, in which case the configuration stays open and usable
     */
    public native boolean close();

    /** @return whether the configuration has unsaved changes */
    public native boolean isModified();

    /** @return whether the configuration may be edited */
    public native boolean isEditable();

    /** @return whether the configuration holds occurrence rules */
    public native boolean isContainingOccur();

    // ---------------------------------------------------------------------------------------
    // Top cell, defaults and names

    /**
     * Sets the top cell of the hierarchy.
     *
     * @param lib  library of the top cell
     * @param cell name of the top cell
     * @param view view of the top cell
     * @return {@code true} when the library accepted the change
     */
    public native boolean setTopCellViewName(String lib, String cell, String view);

    /**
     * @param viewList the default view list
     * @return {@code true} when the library accepted the change
     */
    public native boolean setDefaultViewListString(String viewList);

    /**
     * @param libList the default library list
     * @return {@code true} when the library accepted the change
     */
    public native boolean setDefaultLibListString(String libList);

    /**
     * @param stopList the default stop list: views at which the hierarchy stops
     * @return {@code true} when the library accepted the change
     */
    public native boolean setDefaultStopListString(String stopList);

    /** @return the default view list, or {@code null} */
    public native String getDefaultViewListString();

    /** @return the default library list, or {@code null} */
    public native String getDefaultLibListString();

    /** @return the default stop list, or {@code null} */
    public native String getDefaultStopListString();

    /** @return the library of the top cell, or {@code null} */
    public native String getTopLibName();

    /** @return the name of the top cell, or {@code null} */
    public native String getTopCellName();

    /** @return the view of the top cell, or {@code null} */
    public native String getTopViewName();

    /** @return the library the configuration itself is stored in, or {@code null} */
    public native String getLibName();

    /** @return the cell the configuration itself is stored as, or {@code null} */
    public native String getCellName();

    /** @return the view the configuration itself is stored as, or {@code null} */
    public native String getViewName();

    /** @return the revision number of the configuration as the library keeps it; 0 if none is open */
    public native int getRevision();

    // ---------------------------------------------------------------------------------------
    // Cell and instance view rules

    /**
     * @param lib  library of the cell, or {@code null} for the rule that names no library
     * @param cell the cell
     * @return the view the cell rule binds the cell to, or {@code null} when there is none
     */
    public native String getCellViewBinding(String lib, String cell);

    /**
     * @param lib  library of the cell, or {@code null} for the rule that names no library
     * @param cell the cell
     * @return the view list of the cell rule, or {@code null} when there is none
     */
    public native String getCellViewList(String lib, String cell);

    /**
     * Sets the view that every instance of a cell binds to.
     *
     * @param lib  library of the cell, or {@code null}
     * @param cell the cell
     * @param view the view to bind to
     * @return {@code true} when the library accepted the change
     */
    public native boolean replaceCellViewBinding(String lib, String cell, String view);

    /**
     * Sets the view list used for instances of a cell.
     *
     * @param lib      library of the cell, or {@code null}
     * @param cell     the cell
     * @param viewList the view list
     * @return {@code true} when the library accepted the change
     */
    public native boolean replaceCellViewList(String lib, String cell, String viewList);

    /**
     * Removes the view binding of a cell.
     *
     * @param lib  library of the cell, or {@code null}
     * @param cell the cell
     * @return {@code true} when the library accepted the change
     */
    public native boolean deleteCellViewBinding(String lib, String cell);

    /**
     * Removes the view list of a cell.
     *
     * @param lib  library of the cell, or {@code null}
     * @param cell the cell
     * @return {@code true} when the library accepted the change
     */
    public native boolean deleteCellViewList(String lib, String cell);

    /**
     * Sets the view that one instance inside a cell view binds to.
     *
     * @param lib  library of the cell view that contains the instance
     * @param cell cell that contains the instance
     * @param view view that contains the instance
     * @param inst the instance name
     * @param boundView the view to bind the instance to
     * @return {@code true} when the library accepted the change
     */
    public native boolean replaceInstViewBinding(String lib, String cell, String view, String inst,
                                                 String boundView);

    /**
     * Sets the view list used for one instance inside a cell view.
     *
     * @param lib      library of the cell view that contains the instance
     * @param cell     cell that contains the instance
     * @param view     view that contains the instance
     * @param inst     the instance name
     * @param viewList the view list
     * @return {@code true} when the library accepted the change
     */
    public native boolean replaceInstViewList(String lib, String cell, String view, String inst,
                                              String viewList);

    /**
     * Removes the view binding of an instance.
     *
     * @param lib  library of the cell view that contains the instance
     * @param cell cell that contains the instance
     * @param view view that contains the instance
     * @param inst the instance name
     * @return {@code true} when the library accepted the change
     */
    public native boolean deleteInstViewBinding(String lib, String cell, String view, String inst);

    /**
     * Removes the view list of an instance.
     *
     * @param lib  library of the cell view that contains the instance
     * @param cell cell that contains the instance
     * @param view view that contains the instance
     * @param inst the instance name
     * @return {@code true} when the library accepted the change
     */
    public native boolean deleteInstViewList(String lib, String cell, String view, String inst);

    /**
     * Object view strings are not kept by this library; the method exists for interface
     * compatibility.
     *
     * @param lib  library of the object
     * @param cell cell of the object
     * @param view view of the object
     * @param inst instance name of the object
     * @return always {@code null}
     */
    public native String getObjViewString(String lib, String cell, String view, String inst);

    /**
     * Object view strings are not kept by this library; the method exists for interface
     * compatibility.
     *
     * @param lib   library of the object
     * @param cell  cell of the object
     * @param view  view of the object
     * @param inst  instance name of the object
     * @param value the view string
     * @return always {@code false}
     */
    public native boolean setObjViewString(String lib, String cell, String view, String inst,
                                           String value);

    /**
     * Object view strings are not kept by this library; the method exists for interface
     * compatibility.
     *
     * @param lib  library of the object
     * @param cell cell of the object
     * @param view view of the object
     * @param inst instance name of the object
     * @return always {@code false}
     */
    public native boolean deleteObjViewString(String lib, String cell, String view, String inst);

    // ---------------------------------------------------------------------------------------
    // Constants

    /**
     * Defines a named constant, or changes its value.
     *
     * @param name  name of the constant
     * @param value its value
     * @return {@code true} when the library accepted the change
     */
    public native boolean replaceConstant(String name, String value);

    /**
     * @param name name of the constant to remove
     * @return {@code true} when the library accepted the change
     */
    public native boolean deleteConstant(String name);

    /**
     * Evaluates the constants referenced in a text.
     *
     * @param text text referring to constants
     * @return the evaluated text, or {@code null}
     */
    public native String evalConstants(String text);

    /**
     * Replaces the constant references in a text by their values.
     *
     * @param text text referring to constants
     * @return the resolved text, or {@code null}
     */
    public native String resolveConstants(String text);

    /**
     * Starts an enumeration of this configuration's constants; the cursor stands on the first.
     * Read it with {@link #getConstantName()} and {@link #getConstantValue()}, move on with
     * {@link #nextConstant()} while {@link #hasMoreConstants()}:
     * <pre>{@code
     * for (config.enumerateConstants(); config.hasMoreConstants(); config.nextConstant()) {
     *     use(config.getConstantName(), config.getConstantValue());
     * }
     * }</pre>
     * The cursor is shared by the whole process: run one constant enumeration at a time, and do
     * not edit the constants while it runs.
     */
    public native void enumerateConstants();

    /** Moves the constant cursor to the next constant. */
    public native void nextConstant();

    /** @return whether the constant cursor stands on a constant */
    public native boolean hasMoreConstants();

    /** @return the name of the constant under the cursor, or {@code null} */
    public native String getConstantName();

    /** @return the value of the constant under the cursor, or {@code null} */
    public native String getConstantValue();

    // ---------------------------------------------------------------------------------------
    // Note

    /** @return {@code true} when the note was removed */
    public native boolean deleteNote();

    /**
     * Replaces the whole note by one line.
     *
     * @param line the new note text
     * @return {@code true} when the library accepted the change
     */
    public native boolean replaceNoteLine(String line);

    /**
     * Appends a line to the note.
     *
     * @param line the line to add
     * @return {@code true} when the library accepted the change
     */
    public native boolean addNoteLine(String line);

    /** @return the note, or {@code null} when there is none */
    public native String getNoteString();

    // ---------------------------------------------------------------------------------------
    // Object, occurrence, stop and library-list rules

    /**
     * Sets or clears a stop point on an object: the hierarchy stops there.
     *
     * @param lib   library of the object
     * @param cell  cell of the object
     * @param view  view of the object
     * @param inst  instance name of the object
     * @param stop  {@code true} to stop there, {@code false} not to
     * @return {@code true} when the library accepted the change
     */
    public native boolean setStopPointValue(String lib, String cell, String view, String inst,
                                            boolean stop);

    /**
     * Sets or clears a stop point on one occurrence: the instance {@code inst} in the current
     * context of a path vector. Setting it creates the occurrence path in the configuration when
     * it does not exist yet; clearing never creates one.
     *
     * @param pathVector handle of the path vector ({@link ZelPathVector#pathvector}); prefer the
     *                   form that takes the {@link ZelPathVector}, which keeps it reachable
     * @param inst       the instance name in the current context
     * @param lib        not consulted
     * @param cell       not consulted
     * @param view       not consulted
     * @param stop       {@code true} to stop there, {@code false} not to
     * @return {@code true} when the library accepted the change; {@code false} also when there
     *         is no such occurrence
     */
    public native boolean setOccurStopPointValue(int pathVector, String inst, String lib,
                                                 String cell, String view, boolean stop);

    /**
     * Binds an object to open (an empty library, cell and view), or removes that binding.
     * Nothing is done when both {@code cell} and {@code inst} are {@code null}.
     *
     * @param lib   library of the object
     * @param cell  cell of the object
     * @param view  view of the object
     * @param inst  instance name of the object
     * @param open  {@code true} to bind to open, {@code false} to remove the binding
     * @return {@code true} when the library accepted the change
     */
    public native boolean setBindToOpen(String lib, String cell, String view, String inst,
                                        boolean open);

    /**
     * Binds one occurrence, the instance {@code inst} in the current context of a path vector,
     * to the given library, cell and view, creating the occurrence path in the configuration
     * when it does not exist yet.
     *
     * @param pathVector handle of the path vector ({@link ZelPathVector#pathvector}); prefer the
     *                   form that takes the {@link ZelPathVector}, which keeps it reachable
     * @param lib        library to bind to
     * @param cell       cell to bind to
     * @param view       view to bind to
     * @param inst       the instance name in the current context
     * @return {@code true} when the library accepted the change
     */
    public native boolean setOccurBinding(int pathVector, String lib, String cell, String view,
                                          String inst);

    /**
     * Removes the binding of one occurrence; nothing is created.
     *
     * @param pathVector handle of the path vector ({@link ZelPathVector#pathvector}); prefer the
     *                   form that takes the {@link ZelPathVector}, which keeps it reachable
     * @param inst       the instance name in the current context
     * @return {@code true} when the binding was removed; {@code false} also when there is no
     *         such occurrence
     */
    public native boolean deleteOccurBinding(int pathVector, String inst);

    /**
     * Sets the library list of an object.
     *
     * @param lib     library of the object
     * @param cell    cell of the object
     * @param view    view of the object
     * @param inst    instance name of the object
     * @param libList the library list
     * @return {@code true} when the library accepted the change
     */
    public native boolean setInstLibList(String lib, String cell, String view, String inst,
                                         String libList);

    /**
     * Removes the library list of an object.
     *
     * @param lib  library of the object
     * @param cell cell of the object
     * @param view view of the object
     * @param inst instance name of the object
     * @return {@code true} when the library accepted the change
     */
    public native boolean deleteInstLibList(String lib, String cell, String view, String inst);

    /**
     * Sets the library list used for instances of a cell.
     *
     * @param cell    the cell
     * @param libList the library list
     * @return {@code true} when the library accepted the change
     */
    public native boolean setCellLibList(String cell, String libList);

    /**
     * Removes the library list of a cell.
     *
     * @param cell the cell
     * @return {@code true} when the library accepted the change
     */
    public native boolean deleteCellLibList(String cell);

    // ---------------------------------------------------------------------------------------
    // Path vectors

    /**
     * Creates a path vector over this configuration; push the top cell to start walking. Keep the
     * handle in a {@link ZelPathVector} ({@link ZelPathVector#ZelPathVector(int)}, or use
     * {@link ZelPathVector#create(ZelConfig)}) and destroy it when done.
     *
     * @return the handle of the new path vector, or 0 when none was made
     */
    public native int createNPathVector();

    // ---------------------------------------------------------------------------------------
    // Java conveniences around the natives

    /**
     * {@link #open(String, String, String, String, Object)} with a typed listener, so that a
     * lambda can be given. A configuration opened this way is closed when the program drops this
     * object without closing it.
     *
     * @param lib      library of the configuration
     * @param cell     cell of the configuration
     * @param view     view of the configuration
     * @param mode     {@code "r"} read-only, {@code "a"} to edit, {@code "w"} a new, empty one
     * @param listener receives the warnings of this call, or {@code null}
     * @return {@code true} when the configuration was opened; on failure {@link #id} is 0
     */
    public boolean open(String lib, String cell, String view, String mode, ZelWarningListener listener) {
        try {
            return open(lib, cell, view, mode, (Object) listener);
        } finally {
            watchOpened();
        }
    }

    /**
     * {@link #openWithType(String, String, String, String, String, Object)} with a typed
     * listener; closed when dropped, as {@link #open(String, String, String, String,
     * ZelWarningListener)}.
     *
     * @param lib      library of the configuration
     * @param cell     cell of the configuration
     * @param view     view of the configuration
     * @param viewType view type of the configuration view: {@code "config"}
     * @param mode     {@code "r"}, {@code "a"} or {@code "w"}
     * @param listener receives the warnings of this call, or {@code null}
     * @return {@code true} when the configuration was opened; on failure {@link #id} is 0
     */
    public boolean openWithType(String lib, String cell, String view, String viewType, String mode,
                                ZelWarningListener listener) {
        try {
            return openWithType(lib, cell, view, viewType, mode, (Object) listener);
        } finally {
            watchOpened();
        }
    }

    /**
     * {@link #openPartial(String, String, Object)} with a typed listener; closed when dropped,
     * as {@link #open(String, String, String, String, ZelWarningListener)}.
     *
     * @param path     file of the configuration
     * @param mode     {@code "r"}, {@code "a"} or {@code "w"}
     * @param listener receives the warnings of this call, or {@code null}
     * @return {@code true} when the configuration was opened; on failure {@link #id} is 0
     */
    public boolean openPartial(String path, String mode, ZelWarningListener listener) {
        try {
            return openPartial(path, mode, (Object) listener);
        } finally {
            watchOpened();
        }
    }

    /**
     * {@link #setOccurStopPointValue(int, String, String, String, String, boolean)} on a path
     * vector object, kept reachable until the call is done (so that the cleanup thread cannot
     * destroy it half-way when this is its last use).
     *
     * @param pathVector the path vector
     * @param inst       the instance name in its current context
     * @param lib        not consulted
     * @param cell       not consulted
     * @param view       not consulted
     * @param stop       {@code true} to stop there, {@code false} not to
     * @return as {@link #setOccurStopPointValue(int, String, String, String, String, boolean)}
     */
    public boolean setOccurStopPointValue(ZelPathVector pathVector, String inst, String lib, String cell,
                                          String view, boolean stop) {
        try {
            return setOccurStopPointValue(pathVector.pathvector, inst, lib, cell, view, stop);
        } finally {
            ZelCleanup.keepReachable(pathVector);
        }
    }

    /**
     * {@link #setOccurBinding(int, String, String, String, String)} on a path vector object,
     * kept reachable until the call is done.
     *
     * @param pathVector the path vector
     * @param lib        library to bind to
     * @param cell       cell to bind to
     * @param view       view to bind to
     * @param inst       the instance name in its current context
     * @return as {@link #setOccurBinding(int, String, String, String, String)}
     */
    public boolean setOccurBinding(ZelPathVector pathVector, String lib, String cell, String view, String inst) {
        try {
            return setOccurBinding(pathVector.pathvector, lib, cell, view, inst);
        } finally {
            ZelCleanup.keepReachable(pathVector);
        }
    }

    /**
     * {@link #deleteOccurBinding(int, String)} on a path vector object, kept reachable until the
     * call is done.
     *
     * @param pathVector the path vector
     * @param inst       the instance name in its current context
     * @return as {@link #deleteOccurBinding(int, String)}
     */
    public boolean deleteOccurBinding(ZelPathVector pathVector, String inst) {
        try {
            return deleteOccurBinding(pathVector.pathvector, inst);
        } finally {
            ZelCleanup.keepReachable(pathVector);
        }
    }

    /**
     * {@link #save(Object)} with a typed listener.
     *
     * @param listener receives the warnings of this call, or {@code null}
     * @return {@code true} when it was saved
     */
    public boolean save(ZelWarningListener listener) {
        return save((Object) listener);
    }

    /**
     * {@link #saveAs(String, String, String, Object)} with a typed listener.
     *
     * @param lib      library to save to
     * @param cell     cell to save to
     * @param view     view to save to
     * @param listener receives the warnings of this call, or {@code null}
     * @return {@code true} when it was saved
     */
    public boolean saveAs(String lib, String cell, String view, ZelWarningListener listener) {
        return saveAs(lib, cell, view, (Object) listener);
    }

    /**
     * This configuration as a resource for try-with-resources: leaving the block closes it
     * (unsaved changes are dropped, as with {@link #close()}). Nothing happens when nothing is
     * open by then.
     * <pre>{@code
     * try (ZelConfig.Closing open = new ZelConfig().closing()) {
     *     ZelConfig config = open.config();
     *     if (config.open(lib, cell, view, "r", listener)) { ... }
     * }
     * }</pre>
     *
     * @return the resource; its {@link Closing#close()} closes this configuration
     */
    public Closing closing() {
        return new Closing(this);
    }

    /** A configuration in try-with-resources; see {@link ZelConfig#closing()}. */
    public static final class Closing implements AutoCloseable {
        private final ZelConfig config;

        private Closing(ZelConfig config) {
            this.config = config;
        }

        /** @return the configuration that leaving the block closes */
        public ZelConfig config() {
            return config;
        }

        /** Closes the configuration if one is open. */
        @Override
        public void close() {
            config.close();
            if (config.cleanup != null) config.cleanup.set(0);
        }
    }

    /**
     * Remembers the handle an open wrote, for release if this object is dropped: also when the
     * open succeeded and its listener then threw. A failed open wrote 0 and changes nothing.
     */
    private void watchOpened() {
        int handle = id;
        if (handle == 0) return;
        if (cleanup == null) {
            cleanup = ZelCleanup.watch(this, false, handle);
        } else {
            cleanup.set(handle);
        }
    }

    /** Closes a configuration by its handle, for {@link ZelCleanup}. */
    static void release(int handle) {
        ZelConfig config = new ZelConfig();
        config.id = handle;
        config.close();
    }

    @Override
    public String toString() {
        return "ZelConfig[id=" + id + "]";
    }
}
