import COM.morvent.zel.ZelConfig;
import COM.morvent.zel.ZelLibrary;
import COM.morvent.zel.ZelPathVector;
import COM.morvent.zel.ZelWarnings;
import java.nio.file.Files;
import java.nio.file.Path;

/**
 * A first program: makes a design library in a folder, writes a configuration into it, opens it
 * again and asks how an instance binds.  Usage: java FirstSteps [FOLDER]  (default: zel-first)
 */
public class FirstSteps {
    public static void main(String[] args) throws Exception {
        Path folder = Path.of(args.length > 0 ? args[0] : "zel-first").toAbsolutePath();
        Files.createDirectories(folder.resolve("mylib"));
        Path definitions = folder.resolve("kwo.lib");
        Files.writeString(definitions, "DEFINE mylib mylib\n");  // relative to the file's folder

        ZelConfig.init(definitions.toString());  // static, once per process
        System.out.println("zelJava_sh " + ZelLibrary.version() + ", native library " + ZelLibrary.libraryFile());

        // Make a configuration and save it; a false answer becomes an exception with the warnings.
        ZelWarnings warnings = new ZelWarnings();
        try (ZelConfig.Closing open = new ZelConfig().closing()) {  // closed when the block ends
            ZelConfig config = open.config();
            warnings.check(config.open("mylib", "top", "config", "w", warnings), "open mylib/top/config");
            config.setTopCellViewName("mylib", "top", "schematic");
            config.setDefaultViewListString("schematic symbol");
            config.replaceCellViewBinding(null, "inv", "symbol");
            // A rule for one occurrence, I2 in the top cell: the occurrence methods take the path
            // vector itself, which stays reachable (and open) for the whole call.
            try (ZelPathVector path = ZelPathVector.create(config)) {
                path.pushCell("mylib", "top", "schematic", null);
                warnings.check(config.setOccurBinding(path, "mylib", "inv", "schematic", "I2"), "occurrence binding");
            }
            warnings.check(config.save(warnings), "save");
        }

        // Open it again, read-only, with a lambda for the warnings, and bind one instance.
        try (ZelConfig.Closing open = new ZelConfig().closing()) {
            ZelConfig again = open.config();
            if (!again.open("mylib", "top", "config", "r", w -> System.err.println("warning: " + w))) {
                System.err.println("cannot open mylib/top/config again");
                System.exit(1);
            }
            System.out.println("revision " + again.getRevision() + ", default views: " + again.getDefaultViewListString());
            try (ZelPathVector path = ZelPathVector.create(again)) {
                path.pushCell("mylib", "top", "schematic", null);
                path.bind("I1", "mylib", "inv", "symbol", false, true, false, w -> System.err.println("warning: " + w));
                System.out.println("I1 (mylib/inv) binds to view " + path.getCurrentViewBinding()
                                   + (path.isCellViewBindingUsed() ? " by its cell rule" : ""));
            }
        }
    }
}
