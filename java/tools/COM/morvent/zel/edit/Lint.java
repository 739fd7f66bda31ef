package COM.morvent.zel.edit;

import COM.morvent.zel.ZelConfig;
import COM.morvent.zel.ZelWarningListener;
import COM.morvent.zel.walk.ConfigFile;
import COM.morvent.zel.walk.Finding;
import COM.morvent.zel.walk.LibraryDefinitions;
import COM.morvent.zel.walk.Progress;
import COM.morvent.zel.walk.WalkException;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.List;
import java.util.Map;

/**
 * The findings of {@code zel lint} for the page, by the instance path (or cell view) each is
 * about. The lint judges the configuration as edited, saved or not.
 */
final class Lint {
    private Lint() {
    }

    static final class Item {
        /** The instance path or cell view concerned; null when none. */
        final String path;
        final String text;

        Item(String path, String text) {
            this.path = path;
            this.text = text;
        }
    }

    static final class Findings {
        final List<Item> all = new ArrayList<>();
        final Map<String, List<String>> byPath = new HashMap<>();
        String summary;

        void add(String path, String text) {
            all.add(new Item(path, text));
            if (path != null) byPath.computeIfAbsent(path, p -> new ArrayList<>()).add(text);
        }
    }

    /** Lints the open configuration as edited, its walk told to {@code progress} (which may stop it). */
    static Findings run(ZelConfig config, Path definitionsFile, ZelWarningListener warnings, Progress progress)
            throws Session.Refused {
        Findings found = new Findings();
        int problems = 0;
        try {
            for (Finding f : COM.morvent.zel.walk.Lint.run(config, ConfigFile.of(config), LibraryDefinitions.loaded(),
                                                           definitionsFile, warnings, progress)) {
                if (!f.kind.note) ++problems;
                String text = (f.kind.note ? "note: " : "") + (f.rule != null ? f.rule + ": " : "") + f.why
                              + (f.fix != null ? "; " + f.fix : "");
                found.add(f.where, text);
            }
        } catch (WalkException e) {
            throw new Session.Refused(409, "the lint cannot run: " + e.getMessage());
        }
        int notes = found.all.size() - problems;
        found.summary = problems + (problems == 1 ? " finding" : " findings") + ", " + notes + (notes == 1 ? " note" : " notes")
                        + " in the configuration as edited";
        return found;
    }
}
