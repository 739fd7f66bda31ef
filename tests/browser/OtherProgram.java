import COM.morvent.zel.ZelConfig;
import COM.morvent.zel.ZelPathVector;
import COM.morvent.zel.ZelWarnings;

/**
 * What the browser test does to a configuration from outside the editor, through the Java API:
 *   get LIBS LIB/CELL/VIEW IN INST   prints the view binding of instance INST inside cell
 *                                    view IN (LIB/CELL/VIEW), or "none"
 *   note LIBS LIB/CELL/VIEW TEXT     adds a note line and saves: another writer
 */
public final class OtherProgram {
    public static void main(String[] args) {
        ZelConfig.init(args[1]);
        String[] name = args[2].split("/");
        ZelWarnings warnings = new ZelWarnings();
        ZelConfig config = new ZelConfig();
        boolean edit = args[0].equals("note");
        warnings.check(config.open(name[0], name[1], name[2], edit ? "a" : "r", warnings), "open");
        if (edit) {
            warnings.check(config.addNoteLine(args[3]), "note");
            warnings.check(config.save(warnings), "save");
            System.out.println("saved");
        } else {
            try (ZelPathVector pv = ZelPathVector.create(config)) {
                String[] in = args[3].split("/");
                pv.pushCell(in[0], in[1], in[2], null);
                String view = pv.getContextUnInheritedInstViewBinding(args[4]);
                System.out.println(view == null ? "none" : view);
            }
        }
        config.close();
    }
}
