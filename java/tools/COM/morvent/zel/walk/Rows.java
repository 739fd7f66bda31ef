package COM.morvent.zel.walk;

import COM.morvent.zel.ZelConfig;

/**
 * What the walk knows of a node, for tools outside this package that show the hierarchy a level
 * at a time (the editor): the instances below a node, and the node's line in the brief form.
 */
public final class Rows {
    private Rows() {
    }

    /** The instances the walk would go into below {@code node}; null when it goes no further. */
    public static DesignFile.Instance[] below(Node node) {
        return node.below;
    }

    /** What the brief tree prints after an instance's binding: where the walk ends, then what a rule changed. */
    public static String brief(Node node, WalkHeader header) {
        StringBuilder l = new StringBuilder(96);
        TreePrinter.endOf(l, node);
        if (node.parent != null) TreePrinter.describe(l, node, header, l.length() > 0 ? "; " : "");
        return l.toString();
    }

    /** How the walk ends below a node ("stop: RULES", "not walked: WHY"); "" when it goes on or the node is bound to open. */
    public static String end(Node node) {
        StringBuilder l = new StringBuilder(48);
        TreePrinter.endOf(l, node);
        return l.toString();
    }

    /** The full form's rule line: which kind of rule chose the view, and both lists with their sources. */
    public static String full(Node node) {
        StringBuilder l = new StringBuilder(160);
        if (node.parent != null) TreePrinter.describe(l, node, null, "");
        return l.toString();
    }

    /** The defaults the brief form leaves out, read from an open configuration. */
    public static WalkHeader header(ZelConfig config) {
        return WalkHeader.of(config);
    }

    /** Whether a library, cell or view name can name a directory of the design. */
    public static boolean isName(String name) {
        return name != null && LibraryDefinitions.isPathComponent(name);
    }

    /** A list as the walk prints it: "none" for no list, "empty" for an empty one. */
    public static String list(String words) {
        return TreePrinter.list(words);
    }
}
