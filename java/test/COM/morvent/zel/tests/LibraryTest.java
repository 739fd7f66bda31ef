package COM.morvent.zel.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;

import COM.morvent.zel.ZelLibrary;
import java.io.IOException;
import java.io.InputStream;
import java.util.Properties;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

/** The platform names of the jar's native folders, and the one version everywhere. */
class LibraryTest {
    /** Every os.name and os.arch the loader knows, and some it must not take for a known one. */
    @ParameterizedTest(name = "{0} / {1} -> {2}")
    @CsvSource(nullValues = "none", value = {
        "Linux, amd64, linux-x86_64",
        "Linux, x86_64, linux-x86_64",
        "Linux, i386, linux-x86",
        "Linux, i686, linux-x86",
        "Linux, x86, linux-x86",
        "Linux, aarch64, linux-aarch64",
        "Windows 10, amd64, windows-x86_64",
        "Windows Server 2022, amd64, windows-x86_64",
        "Windows 11, x86, windows-x86",
        "Windows 7, x64, windows-x86_64",
        "Mac OS X, aarch64, macos-aarch64",
        "Mac OS X, x86_64, macos-x86_64",
        "LINUX, AMD64, linux-x86_64",
        "Linux, sparcv9, none",
        "Linux, arm, none",
        "Linux, ppc64le, none",
        "SunOS, amd64, none",
        "FreeBSD, amd64, none",
        "Linuxish, amd64, none",
        "none, amd64, none",
        "Linux, none, none",
    })
    void platformFolder(String osName, String osArch, String folder) {
        assertEquals(folder, ZelLibrary.platform(osName, osArch));
    }

    /** The classes, the native library, the manifest and the pom carry the release of the build. */
    @Test
    void oneVersion() throws IOException {
        String version = ZelLibrary.version();
        assertEquals(version, ZelLibrary.nativeVersion());
        assertEquals(version, ZelLibrary.class.getPackage().getImplementationVersion(), "manifest");
        Properties pom = new Properties();
        try (InputStream in = ZelLibrary.class.getResourceAsStream("/META-INF/maven/com.morvent/zel/pom.properties")) {
            pom.load(in);
        }
        assertEquals(version, pom.getProperty("version"), "pom.properties");
    }
}
