package COM.morvent.zel.walk;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Comparator;
import java.util.List;
import java.util.TreeSet;
import java.util.stream.Stream;

/**
 * {@code zel set}'s check of the names a rule gives: each library, cell, view and instance must
 * be in the library definitions or on disk. An unknown one is warned of with the names close to
 * it, as the lint does; occurrence paths are checked by walking them.
 */
final class Names {
    private final Zel.Opened opened;
    private final Zel.Io io;
    private int unknown;

    private Names(Zel.Opened opened, Zel.Io io) {
        this.opened = opened;
        this.io = io;
    }

    /** Checks the names of the rule {@code key} sets; gives how many were warned of. */
    static int check(Zel.Opened opened, Settings.Key key, Zel.Io io) {
        Names n = new Names(opened, io);
        List<String> s = key.scope;
        List<String> v = key.values;
        boolean cellKnown = true;
        switch (key.kind) {
            case "library":
                n.library(s.get(0));
                break;
            case "cell":
                cellKnown = n.cell(s.get(0), s.get(1));
                break;
            case "inst":
                if (n.cell(s.get(0), s.get(1)) && (s.get(2) == null || n.view(s.get(0), s.get(1), s.get(2)))) {
                    n.instance(s.get(0), s.get(1), s.get(2), s.get(3));
                }
                break;
            case "top":
                n.cellView(v);
                break;
            case "default-libs":
                for (String lib : words(v.get(0))) n.library(lib);
                break;
            case "default-views":
            case "default-stops":
                for (String view : words(v.get(0))) n.anyView(view);
                break;
            default:
                break;
        }
        if (key.property == null) return n.unknown;
        switch (key.property) {
            case "libs":
                for (String lib : words(v.get(0))) n.library(lib);
                break;
            case "views":
            case "stops":
                for (String view : words(v.get(0))) n.anyView(view);
                break;
            case "view-binding":
                if (v.get(0) == null || v.get(0).isEmpty() || v.get(0).contains("$(")) break;
                if (key.kind.equals("cell") && cellKnown) n.view(s.get(0), s.get(1), v.get(0));
                else n.anyView(v.get(0));
                break;
            case "bind":
                boolean open = true;
                for (String x : v) open &= x == null || x.isEmpty();
                if (!open) n.cellView(v);
                break;
            default:
                break;
        }
        return n.unknown;
    }

    private static List<String> words(String list) {
        List<String> words = new ArrayList<>();
        if (list == null || list.contains("$(")) return words;
        for (String w : list.trim().split("\\s+")) if (!w.isEmpty()) words.add(w);
        return words;
    }

    private void warn(String what, String name, List<String> candidates) {
        ++unknown;
        List<String> close = close(name, candidates);
        io.err.println(Zel.NAME + " set: warning: " + what
                       + (close.isEmpty() ? "" : "; close: " + String.join(", ", close)));
    }

    private boolean library(String lib) {
        if (lib == null || opened.libraries.directory(lib) != null) return true;
        warn("library " + lib + " is not defined in " + opened.definitionsFile, lib, opened.libraries.names());
        return false;
    }

    private List<String> libs(String lib) {
        return lib != null ? List.of(lib) : opened.libraries.names();
    }

    private boolean cell(String lib, String cell) {
        if (!library(lib)) return false;
        List<String> all = new ArrayList<>();
        for (String l : libs(lib)) {
            List<String> cells = dirs(opened.libraries.directory(l));
            if (cells.contains(cell)) return true;
            all.addAll(cells);
        }
        warn("no library " + (lib == null ? "" : lib + " ") + "has a cell " + cell, cell, all);
        return false;
    }

    private boolean view(String lib, String cell, String view) {
        List<String> all = new ArrayList<>();
        for (String l : libs(lib)) {
            Path dir = opened.libraries.directory(l);
            if (dir == null || !LibraryDefinitions.isPathComponent(cell)) continue;
            List<String> views = dirs(child(dir, cell));
            if (views.contains(view)) return true;
            all.addAll(views);
        }
        warn("cell " + cell + " has no view " + view + " on disk", view, all);
        return false;
    }

    private void cellView(List<String> v) {
        if (v.size() == 3 && v.get(0) != null && v.get(1) != null && cell(v.get(0), v.get(1)) && v.get(2) != null) {
            view(v.get(0), v.get(1), v.get(2));
        }
    }

    private void anyView(String view) {
        TreeSet<String> all = new TreeSet<>();
        for (String l : opened.libraries.names()) {
            Path dir = opened.libraries.directory(l);
            for (String c : dirs(dir)) all.addAll(dirs(child(dir, c)));
        }
        if (!all.contains(view)) warn("no cell view on disk is named " + view, view, new ArrayList<>(all));
    }

    private void instance(String lib, String cell, String view, String inst) {
        Design design = new Design(opened.libraries, text -> { }, 10_000);
        TreeSet<String> all = new TreeSet<>();
        for (String l : libs(lib)) {
            Path dir = opened.libraries.directory(l);
            if (dir == null || !LibraryDefinitions.isPathComponent(cell)) continue;
            for (String vw : view != null ? List.of(view) : dirs(child(dir, cell))) {
                Design.Level level = design.level(new CellView(l, cell, vw));
                if (level.instances == null) continue;
                for (DesignFile.Instance i : level.instances) all.add(i.name);
            }
        }
        if (!all.contains(inst)) {
            warn("no instance " + inst + " in " + (lib == null ? "*" : lib) + "/" + cell + "/" + (view == null ? "*" : view),
                 inst, new ArrayList<>(all));
        }
    }

    /**
     * The folder of a name inside dir, or null where this JVM cannot name it: under a locale that
     * is not UTF-8 a name with other characters has no path (and a listed one comes back with '?').
     */
    private static Path child(Path dir, String name) {
        try {
            return dir == null ? null : dir.resolve(name);
        } catch (java.nio.file.InvalidPathException e) {
            return null;
        }
    }

    /** The folders in a folder, sorted; none when it cannot be read. */
    private static List<String> dirs(Path dir) {
        List<String> names = new ArrayList<>();
        if (dir == null || !Files.isDirectory(dir)) return names;
        try (Stream<Path> entries = Files.list(dir)) {
            entries.filter(Files::isDirectory).forEach(p -> names.add(p.getFileName().toString()));
        } catch (IOException | java.io.UncheckedIOException e) {
            // an unreadable folder holds no name we can offer
        }
        names.sort(null);
        return names;
    }

    /** Up to three candidates within a few edits of name, the closest first. */
    static List<String> close(String name, List<String> candidates) {
        int limit = Math.max(1, name.length() / 3);
        List<String> close = new ArrayList<>();
        for (String c : new TreeSet<>(candidates)) if (!c.equals(name) && distance(name, c) <= limit) close.add(c);
        close.sort(Comparator.comparingInt(c -> distance(name, c)));
        return close.size() > 3 ? close.subList(0, 3) : close;
    }

    /** Edits (insert, delete, replace, swap of neighbours) from a to b; a letter of the other case is no edit. */
    private static int distance(String a, String b) {
        int[][] d = new int[a.length() + 1][b.length() + 1];
        for (int i = 0; i <= a.length(); ++i) d[i][0] = i;
        for (int j = 0; j <= b.length(); ++j) d[0][j] = j;
        for (int i = 1; i <= a.length(); ++i) {
            for (int j = 1; j <= b.length(); ++j) {
                char x = a.charAt(i - 1), y = b.charAt(j - 1);
                int cost = x == y ? 0 : Character.toLowerCase(x) == Character.toLowerCase(y) ? 0 : 1;
                d[i][j] = Math.min(Math.min(d[i - 1][j] + 1, d[i][j - 1] + 1), d[i - 1][j - 1] + cost);
                if (i > 1 && j > 1 && x == b.charAt(j - 2) && a.charAt(i - 2) == y) d[i][j] = Math.min(d[i][j], d[i - 2][j - 2] + 1);
            }
        }
        return d[a.length()][b.length()];
    }
}
