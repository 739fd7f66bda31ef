import java.net.URL;
import java.net.URLClassLoader;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;

/** Loads the classes of the jar given in as many class loaders of their own, all kept alive,
 *  and prints for each the version its native library reports and the file loaded. */
public class LoaderProbe {
    public static void main(String[] args) throws Exception {
        URL jar = Path.of(args[0]).toUri().toURL();
        List<ClassLoader> loaders = new ArrayList<>();
        for (int i = 1; i <= Integer.parseInt(args[1]); i++) {
            ClassLoader loader = new URLClassLoader(new URL[] {jar}, ClassLoader.getPlatformClassLoader());
            loaders.add(loader);
            Class<?> library = loader.loadClass("COM.morvent.zel.ZelLibrary");
            System.out.println("loader " + i + ": " + library.getMethod("nativeVersion").invoke(null) + " "
                               + library.getMethod("libraryFile").invoke(null));
        }
    }
}
