package COM.morvent.zel.walk;

import java.nio.charset.StandardCharsets;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.util.Set;

/**
 * How the names of a Verilog design become names of design libraries and back
 * (docs/import-export.md, "Names").
 *
 * <p>A module becomes a cell, and a cell is a directory: its name may not hold '/', '\' or NUL, be
 * '.' or '..', or pass the length a file system gives a name. Such characters are written as
 * {@code %XX} (the byte in hexadecimal), and so are '%', '@' and '~', which the escaping itself
 * uses, and control characters. A parameterised module of yosys ({@code $paramod$HASH\base} or
 * {@code $paramod\base\P=V}) becomes {@code base@XXXXXXXX}, the base's cell name and eight hex
 * digits of the SHA-1 of the whole name; a name longer than {@value #MAX_BYTES} bytes keeps its
 * start and gets {@code ~} and sixteen hex digits. Those two forms are reversed through the
 * view's module file, which keeps the module's own name; every other cell name is reversed by
 * {@link #moduleOf}. Instance names are never escaped: a design file holds any name.
 */
public final class NetlistNames {
    /** Longest cell name written, in UTF-8 bytes (file systems allow 255). */
    static final int MAX_BYTES = 200;

    private NetlistNames() {
    }

    /** The cell name of a module name. */
    public static String cellOf(String module) {
        if (module.startsWith("$paramod")) {
            String base = paramodBase(module);
            if (base != null) return shorten(escape(base)) + "@" + hash(module).substring(0, 8);
        }
        return shorten(escape(module));
    }

    /** The base module of a yosys parameterised module name, or null. */
    static String paramodBase(String module) {
        int slash = module.indexOf('\\');
        if (slash < 0) return null;
        if (module.startsWith("$paramod$")) return module.substring(slash + 1);
        if (module.startsWith("$paramod\\")) {
            int next = module.indexOf('\\', slash + 1);
            return next < 0 ? module.substring(slash + 1) : module.substring(slash + 1, next);
        }
        return null;
    }

    /**
     * The module name of a cell name made by {@link #cellOf}; null for the forms that only the
     * view's module file reverses (a parameterised module, a shortened name).
     */
    public static String moduleOf(String cell) {
        if (cell.indexOf('@') >= 0 || cell.indexOf('~') >= 0) return null;
        byte[] out = new byte[cell.length() * 3];
        int n = 0;
        byte[] in = cell.getBytes(StandardCharsets.UTF_8);
        for (int i = 0; i < in.length; ++i) {
            if (in[i] == '%' && i + 2 < in.length) {
                out[n++] = (byte) Integer.parseInt(new String(in, i + 1, 2, StandardCharsets.US_ASCII), 16);
                i += 2;
            } else {
                out[n++] = in[i];
            }
        }
        return new String(out, 0, n, StandardCharsets.UTF_8);
    }

    private static String escape(String name) {
        if (name.equals(".")) return "%2E";
        if (name.equals("..")) return "%2E%2E";
        if (name.isEmpty()) return "%";
        StringBuilder b = new StringBuilder(name.length());
        for (int i = 0; i < name.length(); ++i) {
            char c = name.charAt(i);
            if (c == '/' || c == '\\' || c == '%' || c == '@' || c == '~' || c < 0x20 || c == 0x7f) {
                b.append('%').append(String.format("%02X", (int) c));
            } else {
                b.append(c);
            }
        }
        return b.toString();
    }

    private static String shorten(String cell) {
        byte[] bytes = cell.getBytes(StandardCharsets.UTF_8);
        if (bytes.length <= MAX_BYTES) return cell;
        // Cut on a character boundary, leaving room for "~" and the hash.
        int keep = MAX_BYTES - 17;
        while (keep > 0 && (bytes[keep] & 0xC0) == 0x80) --keep;
        return new String(bytes, 0, keep, StandardCharsets.UTF_8) + "~" + hash(cell).substring(0, 16);
    }

    static String hash(String text) {
        try {
            byte[] d = MessageDigest.getInstance("SHA-1").digest(text.getBytes(StandardCharsets.UTF_8));
            StringBuilder b = new StringBuilder();
            for (byte x : d) b.append(String.format("%02x", x & 0xff));
            return b.toString();
        } catch (NoSuchAlgorithmException e) {
            throw new IllegalStateException("no SHA-1 in this JVM", e);
        }
    }

    private static final Set<String> KEYWORDS = Set.of(
        "always", "and", "assign", "automatic", "begin", "buf", "bufif0", "bufif1", "case", "casex", "casez", "cell",
        "cmos", "config", "deassign", "default", "defparam", "design", "disable", "edge", "else", "end", "endcase",
        "endconfig", "endfunction", "endgenerate", "endmodule", "endprimitive", "endspecify", "endtable", "endtask",
        "event", "for", "force", "forever", "fork", "function", "generate", "genvar", "highz0", "highz1", "if",
        "ifnone", "incdir", "include", "initial", "inout", "input", "instance", "integer", "join", "large",
        "liblist", "library", "localparam", "macromodule", "medium", "module", "nand", "negedge", "nmos", "nor",
        "noshowcancelled", "not", "notif0", "notif1", "or", "output", "parameter", "pmos", "posedge", "primitive",
        "pull0", "pull1", "pulldown", "pullup", "pulsestyle_onevent", "pulsestyle_ondetect", "rcmos", "real",
        "realtime", "reg", "release", "repeat", "rnmos", "rpmos", "rtran", "rtranif0", "rtranif1", "scalared",
        "showcancelled", "signed", "small", "specify", "specparam", "strong0", "strong1", "supply0", "supply1",
        "table", "task", "time", "tran", "tranif0", "tranif1", "tri", "tri0", "tri1", "triand", "trior", "trireg",
        "unsigned", "use", "uwire", "vectored", "wait", "wand", "weak0", "weak1", "while", "wire", "wor", "xnor",
        "xor", "logic", "bit", "byte", "int");

    static boolean isKeyword(String word) {
        return KEYWORDS.contains(word);
    }

    /**
     * A name as Verilog writes it: a simple identifier as it is, any other as an escaped
     * identifier ({@code \name} and a blank). White space, which no escaped identifier can hold,
     * becomes '_'.
     */
    public static String verilog(String name) {
        boolean simple = !name.isEmpty() && !isKeyword(name);
        for (int i = 0; simple && i < name.length(); ++i) {
            char c = name.charAt(i);
            boolean letter = c >= 'a' && c <= 'z' || c >= 'A' && c <= 'Z' || c == '_';
            simple = letter || i > 0 && (c >= '0' && c <= '9' || c == '$');
        }
        if (simple) return name;
        StringBuilder b = new StringBuilder("\\");
        for (int i = 0; i < name.length(); ++i) {
            char c = name.charAt(i);
            b.append(c <= ' ' || c == 0x7f ? '_' : c);
        }
        return b.append(' ').toString();
    }
}
