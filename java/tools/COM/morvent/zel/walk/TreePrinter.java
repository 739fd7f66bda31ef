package COM.morvent.zel.walk;

import java.io.PrintStream;
import java.util.List;

/**
 * Prints a walked hierarchy as a tree, two lines per instance: the instance with its master and
 * binding, then which rules chose the view and the lists; a third line when the walk stops or
 * ends there.
 */
public final class TreePrinter {
    private final PrintStream out;

    public TreePrinter(PrintStream out) {
        this.out = out;
    }

    public void print(WalkResult result) {
        out.println("Configuration " + result.location + ", revision " + result.revision);
        if (result.note != null) {
            String[] lines = result.note.split("\n", -1);
            for (int i = 0; i < lines.length; ++i) out.println((i == 0 ? "Note: " : "      ") + lines[i]);
        }
        Node root = result.root;
        out.println("Top: " + root.binding);
        endLine("", root);
        printChildren(root, "");
    }

    private void printChildren(Node node, String indent) {
        List<Node> children = node.children;
        for (int i = 0; i < children.size(); ++i) {
            boolean last = i == children.size() - 1;
            printNode(children.get(i), indent, last);
        }
    }

    private void printNode(Node node, String indent, boolean last) {
        String bound = node.binding == null ? "open" : node.binding.toString();
        out.println(indent + (last ? "`- " : "+- ") + node.name + ": " + node.master + " -> " + bound);
        String inner = indent + (last ? "   " : "|  ");
        // The detail lines hang under the instance, beside the branch to its children.
        String detail = inner + (node.children.isEmpty() ? "   " : "|  ");
        out.println(detail + describe(node));
        endLine(detail, node);
        printChildren(node, inner);
    }

    private void endLine(String detail, Node node) {
        switch (node.end) {
            case STOP:
                out.println(detail + "stop: " + String.join(", ", node.stopNames()));
                break;
            case WALKED:
            case OPEN:
                break;
            default:
                out.println(detail + "not walked: " + node.end.label);
                break;
        }
    }

    /** The rule line of an instance. */
    static String describe(Node node) {
        BindAnswers a = node.answers;
        StringBuilder line = new StringBuilder("view: ").append(Labels.chosenBy(a));
        if (a.libSetOnCellBinding != null) line.append(" (library ").append(a.libSetOnCellBinding).append(" from the cell rule)");
        line.append("; libs: ").append(list(a.libList)).append(" (").append(Labels.libListFrom(a)).append(")");
        line.append("; views: ").append(list(a.expandedViewList)).append(" (").append(Labels.viewListFrom(a, node.viewListKind));
        if (a.viewList != null && !a.viewList.isEmpty() && !a.viewList.equals(a.expandedViewList)) {
            line.append(", written \"").append(a.viewList).append('"');
        }
        return line.append(")").toString();
    }

    private static String list(String words) {
        if (words == null) return "none";
        if (words.isEmpty()) return "empty";
        return words;
    }
}
