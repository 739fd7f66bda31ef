package COM.morvent.zel.walk;

import COM.morvent.zel.ZelLevel;

import COM.morvent.zel.ZelWarningListener;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.LinkedHashMap;
import java.util.Map;

/**
 * The design as the walk reads it: the instances of each cell view, from its design file. A walk
 * meets the same few cell views again and again, so each is read once and kept while it is in
 * use; the least recently used go when the kept instances pass a fixed number, which keeps the
 * memory of a walk bounded whatever the size of the design.
 */
public final class Design {
    /** What the walk finds below a cell view. */
    public static final class Level {
        /** Its instances (none for a view without a design file); null when it cannot be walked. */
        public final DesignFile.Instance[] instances;
        /** Why it cannot be walked: NOT_IN_DESIGN or DESIGN_FILE_ERROR; null when it can. */
        public final Node.End problem;
        /** Its instances packed for ZelLevel, once the walk binds them so (walks on other threads may share it). */
        volatile ZelLevel.Instances packed;

        Level(DesignFile.Instance[] instances, Node.End problem) {
            this.instances = instances;
            this.problem = problem;
        }
    }

    private static final DesignFile.Instance[] NONE = new DesignFile.Instance[0];
    private static final Level NOT_IN_DESIGN = new Level(null, Node.End.NOT_IN_DESIGN);
    private static final Level DESIGN_FILE_ERROR = new Level(null, Node.End.DESIGN_FILE_ERROR);

    private final LibraryDefinitions libraries;
    private final ZelWarningListener warnings;
    private final int maxKept;
    private int kept;
    private final LinkedHashMap<CellView, Level> levels = new LinkedHashMap<>(64, 0.75f, true) {
        private static final long serialVersionUID = 1L;

        @Override
        protected boolean removeEldestEntry(Map.Entry<CellView, Level> eldest) {
            if (kept <= maxKept || size() <= 1) return false;
            kept -= weight(eldest.getValue());
            return true;
        }
    };

    /**
     * @param libraries the library directories
     * @param warnings  receives a warning for each design file that does not read, when it is read
     * @param maxKept   how many instances to keep in all before the least recently used cell
     *                  views are read anew
     */
    public Design(LibraryDefinitions libraries, ZelWarningListener warnings, int maxKept) {
        this.libraries = libraries;
        this.warnings = warnings;
        this.maxKept = maxKept;
    }

    /** What lies below a cell view. Walks on several threads may share one design. */
    public synchronized Level level(CellView cv) {
        Level level = levels.get(cv);
        if (level == null) {
            level = read(cv);
            kept += weight(level);
            levels.put(cv, level);
        }
        return level;
    }

    private static int weight(Level level) {
        return 1 + (level.instances == null ? 0 : level.instances.length);
    }

    private Level read(CellView cv) {
        Path dir = viewDirectory(cv);
        if (dir == null || !Files.isDirectory(dir)) return NOT_IN_DESIGN;
        try {
            DesignFile.Instance[] instances = DesignFile.read(dir).toArray(NONE);
            return new Level(instances.length == 0 ? NONE : instances, null);
        } catch (DesignFile.DesignFileException e) {
            warnings.processWarning(e.getMessage());
            return DESIGN_FILE_ERROR;
        }
    }

    private Path viewDirectory(CellView cv) {
        Path lib = libraries.directory(cv.lib);
        if (lib == null || cv.cell == null || cv.view == null) return null;
        if (!LibraryDefinitions.isPathComponent(cv.cell) || !LibraryDefinitions.isPathComponent(cv.view)) return null;
        return lib.resolve(cv.cell).resolve(cv.view);
    }
}
