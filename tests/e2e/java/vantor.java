// Stands in for the installer program under a real Java virtual machine: exits with 42 when
// it runs headless on the payload's runtime, from the working directory, with the arguments
// of its mode (the options themselves are checked exactly by the fake-runtime rows).
import java.io.File;

public class vantor {
  public static void main(String[] args) throws Exception {
    String workDir = System.getProperty("java.io.tmpdir");
    boolean ok = new File(".").getCanonicalPath().equals(new File(workDir).getCanonicalPath())
        && System.getProperty("java.home").startsWith(workDir + "/package/jre")
        && "true".equals(System.getProperty("java.awt.headless"))
        && Runtime.getRuntime().maxMemory() <= 256L * 1024 * 1024
        && String.join(" ", args).equals("silent".equals(System.getenv("VANTOR_EXPECT_MODE"))
            ? "-nodisplay -noconsole -state " + System.getenv("VANTOR_EXPECT_STATE") : "-nodisplay");
    System.out.println(ok ? "vantor: all checks passed" : "vantor: " + String.join(" ", args));
    System.exit(ok ? 42 : 1);
  }
}
