package COM.morvent.zel.walk;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.NoSuchFileException;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;

/**
 * What an import records beside a cell view's instances: the module file {@value #FILE_NAME}.
 * <pre>
 * zel-module 1
 * module "$paramod$4a1f...\\picorv32_pcpi_mul"    the module's own name in the Verilog
 * base picorv32_pcpi_mul                          a parameterised module's base module
 * parameter STEPS_AT_ONCE 1                       its parameters, one a line
 * verilog module.v                                the file of its Verilog, in the view folder
 * leaf                                            a cell with no module in the sources
 * </pre>
 */
final class ViewModule {
    static final String FILE_NAME = "module.zel";
    static final String VERILOG_FILE = "module.v";

    String module;
    String base;
    final List<String[]> parameters = new ArrayList<>();
    /** The Verilog file's name in the view folder; null when the view has none. */
    String verilog;
    boolean leaf;

    /** The module file of a view folder; null when it has none. */
    static ViewModule read(Path viewDir) throws WalkException {
        Path file = viewDir.resolve(FILE_NAME);
        String text;
        try {
            text = Files.readString(file, StandardCharsets.UTF_8);
        } catch (NoSuchFileException e) {
            return null;
        } catch (IOException e) {
            throw new WalkException(1, file + ": cannot read it (" + e.getMessage() + ")");
        }
        ViewModule m = new ViewModule();
        String[] lines = text.split("\r?\n", -1);
        boolean header = false;
        for (int number = 1; number <= lines.length; ++number) {
            List<DesignFile.Word> words;
            try {
                words = DesignFile.words(file.toString(), number, lines[number - 1]);
            } catch (DesignFile.DesignFileException e) {
                throw new WalkException(1, e.getMessage());
            }
            if (words.isEmpty()) continue;
            String key = words.get(0).text;
            String at = file + ":" + number + ": ";
            if (!header) {
                if (!key.equals("zel-module") || words.size() != 2 || !words.get(1).text.equals("1")) {
                    throw new WalkException(1, at + "expected 'zel-module 1' first");
                }
                header = true;
                continue;
            }
            if (key.equals("module") && words.size() == 2) m.module = words.get(1).text;
            else if (key.equals("base") && words.size() == 2) m.base = words.get(1).text;
            else if (key.equals("verilog") && words.size() == 2) m.verilog = words.get(1).text;
            else if (key.equals("parameter") && words.size() == 3) m.parameters.add(new String[] {words.get(1).text, words.get(2).text});
            else if (key.equals("leaf") && words.size() == 1) m.leaf = true;
            else throw new WalkException(1, at + "unknown line '" + lines[number - 1].strip() + "'");
        }
        if (m.module == null) throw new WalkException(1, file + ": names no module (a 'module NAME' line)");
        return m;
    }

    String text() {
        StringBuilder b = new StringBuilder("# The module of this cell view, as zel import found it (docs/import-export.md)\n");
        b.append("zel-module 1\n");
        b.append("module ").append(ConfigFile.word(module)).append('\n');
        if (base != null) b.append("base ").append(ConfigFile.word(base)).append('\n');
        for (String[] p : parameters) b.append("parameter ").append(ConfigFile.word(p[0])).append(' ').append(ConfigFile.word(p[1])).append('\n');
        if (verilog != null) b.append("verilog ").append(ConfigFile.word(verilog)).append('\n');
        if (leaf) b.append("leaf\n");
        return b.toString();
    }
}
