package COM.morvent.zel.walk;

import java.io.PrintStream;

/**
 * Prints a walked hierarchy as one JSON object: the configuration, the top cell and, nested,
 * every instance with its master, binding, the rules that chose them and the bridge's answers
 * as they were.
 */
public final class JsonPrinter {
    private final StringBuilder out = new StringBuilder();
    private final PrintStream stream;

    public JsonPrinter(PrintStream stream) {
        this.stream = stream;
    }

    public void print(WalkResult result) {
        out.setLength(0);
        out.append("{\n");
        field(1, "configuration").append(cellView(result.location)).append(",\n");
        field(1, "revision").append(result.revision).append(",\n");
        field(1, "note").append(string(result.note)).append(",\n");
        Node root = result.root;
        field(1, "top").append(cellView(root.binding)).append(",\n");
        ends(1, root);
        instances(1, root);
        out.append("\n}\n");
        stream.print(out);
    }

    private void instances(int level, Node node) {
        field(level, "instances").append('[');
        for (int i = 0; i < node.children.size(); ++i) {
            out.append(i == 0 ? "\n" : ",\n");
            instance(level + 1, node.children.get(i));
        }
        if (!node.children.isEmpty()) out.append('\n').append(indent(level));
        out.append(']');
    }

    private void instance(int level, Node node) {
        BindAnswers a = node.answers;
        out.append(indent(level)).append("{\n");
        int in = level + 1;
        field(in, "name").append(string(node.name)).append(",\n");
        field(in, "path").append(string(node.path)).append(",\n");
        field(in, "master").append(cellView(node.master)).append(",\n");
        field(in, "binding").append(node.binding == null ? "\"open\"" : cellView(node.binding)).append(",\n");
        field(in, "viewChosenBy").append(string(Labels.chosenBy(a))).append(",\n");
        field(in, "libList").append(string(a.libList)).append(",\n");
        field(in, "libListFrom").append(string(Labels.libListKind(a))).append(",\n");
        field(in, "libListInherited").append(a.libListInherited).append(",\n");
        field(in, "viewList").append(string(a.expandedViewList)).append(",\n");
        field(in, "viewListAsWritten").append(string(a.viewList)).append(",\n");
        field(in, "viewListFrom").append(string(node.viewListKind)).append(",\n");
        field(in, "viewListInherited").append(a.viewListInherited).append(",\n");
        field(in, "answers").append("{");
        out.append("\"libListBindWhy\": ").append(a.libListWhy);
        flag("isCurrentViewSet", a.currentViewSet);
        flag("isCurrentViewListSet", a.currentViewListSet);
        flag("isCurrentOccurBinding", a.occurBinding);
        flag("isCurrentViewMRU", a.viewMRU);
        flag("isInstViewBindingUsed", a.instViewBindingUsed);
        flag("isCellViewBindingUsed", a.cellViewBindingUsed);
        flag("isLibListInherited", a.libListInherited);
        flag("isViewListInherited", a.viewListInherited);
        flag("isUnbound", a.unbound);
        out.append(", \"getLibSetOnCellBinding\": ").append(string(a.libSetOnCellBinding));
        out.append(", \"getRawContextInstViewString\": ").append(string(a.contextViewString));
        flag("isPartOfOccurPath", a.onOccurrencePath);
        out.append(", \"getStopWhy\": ").append(node.stopWhy).append("},\n");
        ends(in, node);
        instances(in, node);
        out.append('\n').append(indent(level)).append('}');
    }

    private void ends(int level, Node node) {
        field(level, "stop").append('[');
        String sep = "";
        for (String name : node.stopNames()) {
            out.append(sep).append(string(name));
            sep = ", ";
        }
        out.append("],\n");
        field(level, "end").append(string(node.end.label)).append(",\n");
    }

    private void flag(String name, boolean value) {
        out.append(", ").append(string(name)).append(": ").append(value);
    }

    private StringBuilder field(int level, String name) {
        return out.append(indent(level)).append(string(name)).append(": ");
    }

    private static String indent(int level) {
        return "  ".repeat(level);
    }

    private static String cellView(CellView cv) {
        if (cv == null) return "null";
        return "{\"lib\": " + string(cv.lib) + ", \"cell\": " + string(cv.cell) + ", \"view\": " + string(cv.view) + "}";
    }

    /** A JSON string, or null. */
    static String string(String text) {
        if (text == null) return "null";
        StringBuilder s = new StringBuilder(text.length() + 2).append('"');
        for (int i = 0; i < text.length(); ++i) {
            char c = text.charAt(i);
            switch (c) {
                case '"': s.append("\\\""); break;
                case '\\': s.append("\\\\"); break;
                case '\n': s.append("\\n"); break;
                case '\r': s.append("\\r"); break;
                case '\t': s.append("\\t"); break;
                default:
                    // Control characters, and surrogates without their pair, as escapes: the
                    // output stays valid UTF-8 and valid JSON whatever the names hold.
                    boolean lone = Character.isSurrogate(c) && !(Character.isHighSurrogate(c) && i + 1 < text.length()
                            && Character.isLowSurrogate(text.charAt(i + 1)))
                            && !(Character.isLowSurrogate(c) && i > 0 && Character.isHighSurrogate(text.charAt(i - 1)));
                    if (c < 0x20 || c == 0x2028 || c == 0x2029 || lone) s.append(String.format("\\u%04x", (int) c));
                    else s.append(c);
            }
        }
        return s.append('"').toString();
    }
}
