// Stands in for the installer program: checks what the launcher started it with and exits
// with 42 when everything is as the contract says (1 otherwise, with the reasons on stderr).
import java.io.File;
import java.util.Arrays;

public class vantor {
  private static int failures = 0;

  private static void check(boolean ok, String what) {
    if (!ok) {
      System.err.println("vantor: wrong " + what);
      failures++;
    }
  }

  public static void main(String[] args) throws Exception {
    String mode = System.getenv("VANTOR_EXPECT_MODE");
    String tempDir = System.getenv("VANTOR_EXPECT_TEMP_DIR");
    String stateFile = System.getenv("VANTOR_EXPECT_STATE");
    String workDir = System.getProperty("java.io.tmpdir");
    String cwd = new File(".").getCanonicalPath();

    check(workDir.startsWith(tempDir + "/setup"), "java.io.tmpdir " + workDir);
    check(new File(workDir).getCanonicalPath().equals(cwd), "current directory " + cwd);
    check(new File(cwd, "vantor.class").isFile(), "current directory contents");
    check(tempDir.equals(System.getProperty("temp.dir")), "temp.dir " + System.getProperty("temp.dir"));
    String classPath = workDir + ":" + workDir + "/package/PackageFormat.jar";
    check(classPath.equals(System.getProperty("java.class.path")),
        "java.class.path " + System.getProperty("java.class.path"));
    check("true".equals(System.getProperty("java.awt.headless")), "java.awt.headless");
    check("".equals(System.getProperty("java.endorsed.dirs")), "java.endorsed.dirs");
    check(System.getProperty("java.home").startsWith(workDir + "/package/jre"),
        "runtime " + System.getProperty("java.home"));
    String libraryPath = System.getenv("LD_LIBRARY_PATH");
    check(libraryPath != null && libraryPath.equals(workDir + "/package"),
        "LD_LIBRARY_PATH " + libraryPath);
    check(Runtime.getRuntime().maxMemory() <= 256L * 1024 * 1024, "heap limit");

    String[] expected = "silent".equals(mode)
        ? new String[] {"-nodisplay", "-noconsole", "-state", stateFile}
        : new String[] {"-nodisplay"};
    check(Arrays.equals(args, expected), "arguments " + Arrays.toString(args));

    if (failures == 0) {
      System.out.println("vantor: all checks passed");
      System.exit(42);
    }
    System.exit(1);
  }
}
