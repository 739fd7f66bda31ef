package COM.morvent.zel.walk;

import java.io.IOException;
import java.nio.charset.CharacterCodingException;
import java.nio.charset.CodingErrorAction;
import java.nio.charset.StandardCharsets;
import java.nio.ByteBuffer;
import java.nio.file.Files;
import java.nio.file.NoSuchFileException;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Collections;
import java.util.HashSet;
import java.util.List;
import java.util.Set;

/**
 * The design file of a cell view: its instances, each with a name and the library, cell and
 * view of its master. It is the file {@value #FILE_NAME} in the view directory:
 * <pre>
 * # Instances of design/alu:schematic
 * zel-instances 1
 * inst ADD design adder symbol
 * inst NEG stdcells inv symbol
 * </pre>
 * Words are written as in a configuration file: bare, or in double quotes with the escapes
 * <code>\" \\ \n \t \r &#92;u{HEX}</code>; '#' at the start of a word starts a comment; {@code -} for
 * the master view means none. A view directory without the file holds no instances.
 */
public final class DesignFile {
    public static final String FILE_NAME = "instances.zel";

    /** One instance of a cell view. */
    public static final class Instance {
        public final String name;
        public final CellView master;

        public Instance(String name, CellView master) {
            this.name = name;
            this.master = master;
        }
    }

    /** A design file that cannot be read; the message names the file and says what to do. */
    public static final class DesignFileException extends Exception {
        private static final long serialVersionUID = 1L;

        DesignFileException(String message) {
            super(message);
        }
    }

    private DesignFile() {
    }

    /**
     * The instances in the design file of a view directory, in the order of the file; none
     * when the directory has no design file.
     */
    public static List<Instance> read(Path viewDirectory) throws DesignFileException {
        Path file = viewDirectory.resolve(FILE_NAME);
        byte[] bytes;
        try {
            bytes = Files.readAllBytes(file);
        } catch (NoSuchFileException e) {
            return Collections.emptyList();
        } catch (IOException e) {
            throw new DesignFileException(file + ": cannot read it (" + e.getMessage() + "); check its permissions");
        }
        String text;
        try {
            text = StandardCharsets.UTF_8.newDecoder().onMalformedInput(CodingErrorAction.REPORT)
                    .onUnmappableCharacter(CodingErrorAction.REPORT).decode(ByteBuffer.wrap(bytes)).toString();
        } catch (CharacterCodingException e) {
            throw new DesignFileException(file + ": not UTF-8 text; save it as UTF-8");
        }
        return parse(file.toString(), text);
    }

    /** The instances of a design file's text; {@code where} names it in messages. */
    public static List<Instance> parse(String where, String text) throws DesignFileException {
        if (text.startsWith("\uFEFF")) text = text.substring(1);
        List<Instance> instances = new ArrayList<>();
        Set<String> names = new HashSet<>();
        boolean headerSeen = false;
        String[] lines = text.split("\r?\n", -1);
        for (int number = 1; number <= lines.length; ++number) {
            String line = lines[number - 1];
            List<Word> words = words(where, number, line);
            if (words.isEmpty()) continue;
            Word first = words.get(0);
            String at = where + ":" + number + ":" + first.column + ": ";
            if (!headerSeen) {
                if (!first.text.equals("zel-instances") || first.quoted || words.size() != 2
                        || !words.get(1).text.equals("1")) {
                    throw new DesignFileException(at + "expected 'zel-instances 1' as the first statement; "
                                                  + "add it at the top of the file");
                }
                headerSeen = true;
                continue;
            }
            if (!first.text.equals("inst") || first.quoted) {
                throw new DesignFileException(at + "unknown statement '" + first.text
                                              + "'; write inst NAME LIB CELL VIEW");
            }
            if (words.size() != 5) {
                // At the first word too many, or just after the line for one missing.
                int column = words.size() > 5 ? words.get(5).column : line.stripTrailing().codePointCount(0, line.stripTrailing().length()) + 1;
                throw new DesignFileException(where + ":" + number + ":" + column + ": inst takes four words, "
                                              + "not " + (words.size() - 1) + "; write inst NAME LIB CELL VIEW");
            }
            String name = words.get(1).text;
            if (!names.add(name)) {
                throw new DesignFileException(where + ":" + number + ":" + words.get(1).column + ": instance '" + name
                                              + "' is listed twice; give each instance its own name");
            }
            Word view = words.get(4);
            String viewName = view.text.equals("-") && !view.quoted ? null : view.text;
            instances.add(new Instance(name, new CellView(words.get(2).text, words.get(3).text, viewName)));
        }
        if (!headerSeen) {
            throw new DesignFileException(where + ": empty; a design file starts with 'zel-instances 1'");
        }
        return instances;
    }

    /** A word of a line, as configuration and design files write them. */
    static final class Word {
        final String text;
        final int column;     // in characters, from 1
        final boolean quoted;

        Word(String text, int column, boolean quoted) {
            this.text = text;
            this.column = column;
            this.quoted = quoted;
        }
    }

    /** The words of one line; '#' at the start of a word ends it. */
    static List<Word> words(String where, int number, String line) throws DesignFileException {
        List<Word> words = new ArrayList<>();
        int i = 0;
        int n = line.length();
        while (i < n) {
            char c = line.charAt(i);
            if (c == ' ' || c == '\t') {
                ++i;
                continue;
            }
            int column = line.codePointCount(0, i) + 1;
            if (c == '#') break;
            if (c != '"') {
                int start = i;
                while (i < n && line.charAt(i) != ' ' && line.charAt(i) != '\t') ++i;
                words.add(new Word(line.substring(start, i), column, false));
                continue;
            }
            StringBuilder word = new StringBuilder();
            ++i;
            boolean closed = false;
            while (i < n) {
                char d = line.charAt(i++);
                if (d == '"') {
                    closed = true;
                    break;
                }
                if (d != '\\') {
                    word.append(d);
                    continue;
                }
                char e = i < n ? line.charAt(i++) : '\0';
                switch (e) {
                    case '"': word.append('"'); break;
                    case '\\': word.append('\\'); break;
                    case 'n': word.append('\n'); break;
                    case 't': word.append('\t'); break;
                    case 'r': word.append('\r'); break;
                    case 'u': i = codePoint(where, number, line, i, word); break;
                    default:
                        throw new DesignFileException(where + ":" + number + ":" + (line.codePointCount(0, i - 1))
                                                      + ": unknown escape; use \\\" \\\\ \\n \\t \\r or \\u{HEX}");
                }
            }
            if (!closed) {
                throw new DesignFileException(where + ":" + number + ":" + column
                                              + ": unterminated quote; close it with \"");
            }
            words.add(new Word(word.toString(), column, true));
        }
        return words;
    }

    // A code-point escape (backslash, u, {HEX}) after the 'u' at i; appends the code point and gives the index after '}'.
    private static int codePoint(String where, int number, String line, int i, StringBuilder word)
            throws DesignFileException {
        int close = line.indexOf('}', i);
        String hex = i < line.length() && line.charAt(i) == '{' && close > i + 1 ? line.substring(i + 1, close) : "";
        int cp = -1;
        if (!hex.isEmpty() && hex.length() <= 6 && hex.chars().allMatch(h -> Character.digit(h, 16) >= 0)) {
            cp = Integer.parseInt(hex, 16);
        }
        if (cp < 0 || cp > 0x10FFFF) {
            throw new DesignFileException(where + ":" + number + ":" + line.codePointCount(0, i)
                                          + ": expected \\u{HEX} with 1 to 6 hexadecimal digits up to 10FFFF");
        }
        word.appendCodePoint(cp);
        return close + 1;
    }
}
