package COM.morvent.zel.walk;

import java.io.IOException;
import java.io.Writer;

/**
 * Prints the walk as a tree while it goes. The full form gives two lines per instance (the
 * instance with its master and binding, then which rules chose the view and the lists) and a
 * third where the walk ends; the brief form gives one line per instance, and on it only what is
 * not the configuration's default, which the head of the tree states once.
 */
public final class TreePrinter implements WalkSink {
    private final Writer out;
    private final WalkHeader header;
    private final boolean brief;
    private final StringBuilder indent = new StringBuilder();
    private final StringBuilder line = new StringBuilder(256);

    public TreePrinter(Writer out, WalkHeader header, boolean brief) {
        this.out = out;
        this.header = header;
        this.brief = brief;
    }

    @Override
    public void start(Node top) throws IOException {
        out.write("Configuration " + header.location + ", revision " + header.revision + "\n");
        if (header.note != null) {
            String[] lines = header.note.split("\n", -1);
            for (int i = 0; i < lines.length; ++i) out.write((i == 0 ? "Note: " : "      ") + lines[i] + "\n");
        }
        out.write("Top: " + top.binding + "\n");
        line.setLength(0);
        if (endOf(line, top)) out.append(line).append('\n');
        if (brief && top.hasInstances()) {
            out.write("Unless shown: view: " + Labels.ViewChoice.VIEW_LIST.label + "; libs: " + list(header.defaultLibList)
                      + " (default); views: " + list(header.defaultViewList) + " (default)\n"
                      + "A list shown on an instance holds below it, unless shown again.\n");
        }
    }

    @Override
    public void enter(Node node) throws IOException {
        StringBuilder l = line;
        l.setLength(0);
        l.append(indent).append(node.last ? "`- " : "+- ").append(node.name).append(": ");
        appendCellView(l, node.master).append(" -> ");
        if (node.binding == null) l.append("open");
        else appendCellView(l, node.binding);
        indent.append(node.last ? "   " : "|  ");
        if (brief) {
            // Where the walk ends first: it is what a reader of the tree looks for.
            int mark = l.length();
            int start = l.append("  ").length();
            endOf(l, node);
            describe(l, node, header, l.length() > start ? "; " : "");
            if (l.length() == start) l.setLength(mark);
            out.append(l).append('\n');
            return;
        }
        out.append(l).append('\n');
        // The detail lines hang under the instance, beside the branch to its instances.
        l.setLength(0);
        l.append(indent).append(node.hasInstances() ? "|  " : "   ");
        int detail = l.length();
        describe(l, node, null, "");
        out.append(l).append('\n');
        l.setLength(detail);
        if (endOf(l, node)) out.append(l).append('\n');
    }

    @Override
    public void leave(Node node) {
        indent.setLength(indent.length() - 3);
    }

    @Override
    public void finish(Node top) throws IOException {
        out.flush();
    }

    /**
     * Appends the rule line of an instance: which kind of rule chose the view, the library list
     * and the view list, each with the kind of rule that supplied it, and how the view list is
     * written when its constants make it differ. Given {@code defaults} (the brief form), only
     * what a reader cannot tell from the head of the tree and the lines above: the view when a
     * rule chose it; a list of its own when it is not the default or replaces a list that was
     * not; an inherited list when it reads otherwise than the level above's (the libraries
     * searched add the master's own). Lists as they are in effect.
     *
     * @param sep what goes before the first part
     */
    static void describe(StringBuilder l, Node node, WalkHeader defaults, String sep) {
        BindAnswers a = node.answers;
        boolean full = defaults == null;
        if (full || Labels.viewChoice(a) != Labels.ViewChoice.VIEW_LIST || a.libSetOnCellBinding != null) {
            l.append(sep).append("view: ").append(Labels.chosenBy(a));
            if (a.libSetOnCellBinding != null) l.append(" (library ").append(a.libSetOnCellBinding).append(" from the cell rule)");
            sep = "; ";
        }
        if (full || (a.libListInherited ? !same(a.libList, libsAbove(node, defaults))
                                        : otherLibs(node, defaults) || otherLibs(node.parent, defaults))) {
            l.append(sep).append("libs: ").append(list(a.libList)).append(" (").append(Labels.libListFrom(a)).append(")");
            sep = "; ";
        }
        if (full || (a.viewListInherited ? !same(a.expandedViewList, viewsAbove(node, defaults))
                                         : otherViews(node, defaults) || otherViews(node.parent, defaults))) {
            l.append(sep).append("views: ").append(list(a.expandedViewList)).append(" (")
                    .append(Labels.viewListFrom(a, node.viewListKind));
            if (full && a.viewList != null && !a.viewList.isEmpty() && !a.viewList.equals(a.expandedViewList)) {
                l.append(", written \"").append(a.viewList).append('"');
            }
            l.append(")");
        }
    }

    private static String libsAbove(Node node, WalkHeader defaults) {
        return node.parent.parent == null ? defaults.defaultLibList : node.parent.answers.libList;
    }

    private static String viewsAbove(Node node, WalkHeader defaults) {
        return node.parent.parent == null ? defaults.defaultViewList : node.parent.answers.expandedViewList;
    }

    /** Whether an instance's library list is not the default; the top cell's is. */
    private static boolean otherLibs(Node node, WalkHeader defaults) {
        if (node.parent == null) return false;
        BindAnswers a = node.answers;
        return Labels.libListKind(a) != Labels.ListSource.DEFAULT || !same(a.libList, defaults.defaultLibList);
    }

    /** Whether an instance's view list is not the default; the top cell's is. */
    private static boolean otherViews(Node node, WalkHeader defaults) {
        if (node.parent == null) return false;
        return node.viewListKind != Labels.ListSource.DEFAULT
               || !same(node.answers.expandedViewList, defaults.defaultViewList);
    }

    /**
     * Appends how the walk ends below a node, "stop: RULES" or "not walked: WHY", after "; " when
     * the line holds more than its start.
     *
     * @return whether it appended anything
     */
    static boolean endOf(StringBuilder l, Node node) {
        String text;
        switch (node.end) {
            case WALKED:
            case OPEN:
                return false;
            case STOP:
                text = stopText(node.stopWhy);
                break;
            default:
                text = "not walked: " + node.end.label;
                break;
        }
        int n = l.length();
        if (n > 0 && l.charAt(n - 1) != ' ') l.append("; ");
        l.append(text);
        return true;
    }

    private static final String[] STOP_TEXTS = new String[32];

    /** "stop: RULES" of a getStopWhy mask; made once for each of the masks of the known kinds. */
    private static String stopText(int stopWhy) {
        if (stopWhy < 0 || stopWhy >= STOP_TEXTS.length) return "stop: " + String.join(", ", Labels.stopNames(stopWhy));
        String text = STOP_TEXTS[stopWhy];
        if (text == null) STOP_TEXTS[stopWhy] = text = "stop: " + String.join(", ", Labels.stopNames(stopWhy));
        return text;
    }

    private static boolean same(String a, String b) {
        return a == null ? b == null : a.equals(b);
    }

    static StringBuilder appendCellView(StringBuilder l, CellView cv) {
        return l.append(part(cv.lib)).append('/').append(part(cv.cell)).append('/').append(part(cv.view));
    }

    private static String part(String name) {
        return name == null ? "-" : name;
    }

    static String list(String words) {
        if (words == null) return "none";
        if (words.isEmpty()) return "empty";
        return words;
    }
}
