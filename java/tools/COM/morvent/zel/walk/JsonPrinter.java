package COM.morvent.zel.walk;

import java.io.IOException;
import java.io.Writer;

/**
 * Prints the walk as JSON while it goes: one document with the instances nested (--json), or one
 * object a line (--jsonl): a first line for the configuration, then one per instance, depth first.
 * An instance is the same object in both, the nested form adding its instances. Field names and
 * the values of the kinds are a fixed vocabulary (docs/walk.md); {@link #SCHEMA_VERSION} changes
 * when a field changes meaning or goes.
 */
public final class JsonPrinter implements WalkSink {
    public static final int SCHEMA_VERSION = 1;

    private final Writer out;
    private final WalkHeader header;
    private final boolean lines;
    private final StringBuilder b = new StringBuilder(1024);
    // Nested form: whether the next instance opens its array (no comma before it).
    private boolean first = true;

    public JsonPrinter(Writer out, WalkHeader header, boolean lines) {
        this.out = out;
        this.header = header;
        this.lines = lines;
    }

    @Override
    public void start(Node top) throws IOException {
        b.setLength(0);
        String nl = lines ? " " : "\n  ";
        b.append(lines ? "{" : "{\n  ").append("\"schemaVersion\": ").append(SCHEMA_VERSION);
        if (lines) b.append(", \"record\": \"configuration\"");
        b.append(',').append(nl).append("\"configuration\": ");
        cellView(header.location);
        b.append(',').append(nl).append("\"revision\": ").append(header.revision);
        b.append(',').append(nl).append("\"note\": ");
        string(b, header.note);
        b.append(',').append(nl).append("\"top\": ");
        cellView(top.binding);
        b.append(',').append(nl);
        ends(top);
        if (lines) {
            b.append("}\n");
        } else {
            b.append(",\n  \"instances\": [");
        }
        out.append(b);
    }

    @Override
    public void enter(Node node) throws IOException {
        b.setLength(0);
        if (lines) {
            b.append("{\"record\": \"instance\", ");
        } else {
            b.append(first ? "\n" : ",\n");
            indent(node.depth);
            b.append('{');
        }
        instance(node);
        if (lines) {
            b.append("}\n");
        } else {
            b.append(", \"instances\": [");
            first = true;
        }
        out.append(b);
    }

    @Override
    public void leave(Node node) throws IOException {
        if (lines) return;
        b.setLength(0);
        if (!first) {
            b.append('\n');
            indent(node.depth);
        }
        b.append("]}");
        first = false;
        out.append(b);
    }

    @Override
    public void finish(Node top) throws IOException {
        if (!lines) out.write(first ? "]\n}\n" : "\n  ]\n}\n");
        out.flush();
    }

    private void indent(int depth) {
        for (int i = 0; i <= depth; ++i) b.append("  ");
    }

    private void instance(Node node) {
        BindAnswers a = node.answers;
        b.append("\"path\": ");
        string(b, node.path());
        b.append(", \"name\": ");
        string(b, node.name);
        b.append(", \"depth\": ").append(node.depth);
        b.append(", \"master\": ");
        cellView(node.master);
        b.append(", \"binding\": {\"open\": ").append(a.unbound).append(", \"lib\": ");
        string(b, node.binding == null ? null : node.binding.lib);
        b.append(", \"cell\": ");
        string(b, node.binding == null ? null : node.binding.cell);
        b.append(", \"view\": ");
        string(b, node.binding == null ? null : node.binding.view);
        b.append("}, \"viewChosenBy\": \"").append(Labels.viewChoice(a).token).append("\", \"libFromCellRule\": ");
        string(b, a.libSetOnCellBinding);
        b.append(", \"libList\": {\"list\": ");
        string(b, a.libList);
        b.append(", \"from\": \"").append(Labels.libListKind(a).token).append("\", \"inherited\": ")
                .append(a.libListInherited).append("}, \"viewList\": {\"list\": ");
        string(b, a.expandedViewList);
        b.append(", \"asWritten\": ");
        string(b, a.viewList);
        b.append(", \"from\": \"").append(node.viewListKind.token).append("\", \"inherited\": ")
                .append(a.viewListInherited).append("}, ");
        ends(node);
        b.append(", \"answers\": {\"getLibListBindWhy\": ").append(a.libListWhy);
        flag("isCurrentViewSet", a.currentViewSet);
        flag("isCurrentViewListSet", a.currentViewListSet);
        flag("isCurrentOccurBinding", a.occurBinding);
        flag("isCurrentViewMRU", a.viewMRU);
        flag("isInstViewBindingUsed", a.instViewBindingUsed);
        flag("isCellViewBindingUsed", a.cellViewBindingUsed);
        flag("isLibListInherited", a.libListInherited);
        flag("isViewListInherited", a.viewListInherited);
        flag("isUnbound", a.unbound);
        flag("isPartOfOccurPath", a.onOccurrencePath);
        b.append(", \"getStopWhy\": ").append(node.stopWhy).append('}');
    }

    private void ends(Node node) {
        b.append("\"stop\": [");
        String sep = "";
        for (String token : Labels.stopTokens(node.stopWhy)) {
            b.append(sep).append('"').append(token).append('"');
            sep = ", ";
        }
        b.append("], \"end\": \"").append(node.end.token).append('"');
    }

    private void flag(String name, boolean value) {
        b.append(", \"").append(name).append("\": ").append(value);
    }

    private void cellView(CellView cv) {
        b.append("{\"lib\": ");
        string(b, cv.lib);
        b.append(", \"cell\": ");
        string(b, cv.cell);
        b.append(", \"view\": ");
        string(b, cv.view);
        b.append('}');
    }

    /** A JSON string, or null. */
    static String string(String text) {
        StringBuilder s = new StringBuilder();
        string(s, text);
        return s.toString();
    }

    /** Appends a JSON string, or null. */
    static void string(StringBuilder s, String text) {
        if (text == null) {
            s.append("null");
            return;
        }
        s.append('"');
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
        s.append('"');
    }
}
