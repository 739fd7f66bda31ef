package COM.morvent.zel.edit;

import COM.morvent.zel.ZelConfig;
import COM.morvent.zel.ZelWarningListener;
import COM.morvent.zel.walk.LibraryDefinitions;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.List;
import java.util.Map;

/** The lint's findings over the open configuration, by the path of the instance each is about. */
final class Lint {
    private Lint() {
    }

    static final class Finding {
        /** The instance's path; null for a finding about no one instance (a cell rule, a library). */
        final String path;
        final String text;

        Finding(String path, String text) {
            this.path = path;
            this.text = text;
        }
    }

    static final class Findings {
        final List<Finding> all = new ArrayList<>();
        final Map<String, List<String>> byPath = new HashMap<>();
        String summary;

        void add(String path, String text) {
            all.add(new Finding(path, text));
            if (path != null) byPath.computeIfAbsent(path, p -> new ArrayList<>()).add(text);
        }
    }

    static Findings run(ZelConfig config, LibraryDefinitions definitions, ZelWarningListener warnings)
            throws Session.Refused {
        // LINT-SEAM: the lint of `zel lint` is not on this branch yet.
        throw new Session.Refused(501, "the lint is not available in this build");
    }
}
