import java.awt.GraphicsEnvironment;
import java.io.BufferedReader;
import java.io.File;
import java.io.FileInputStream;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.io.InputStreamReader;
import java.io.OutputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.StandardCopyOption;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.Properties;
import java.util.Set;
import java.util.HashSet;
import java.util.stream.Stream;
import java.nio.file.attribute.PosixFilePermission;
import javax.swing.JOptionPane;

/**
 * The demo installer program: the launcher unpacks the payload, makes it the current
 * directory and runs this class. It copies the product files found under product/ into a
 * target directory chosen in a window of its own, on the terminal (-nodisplay) or read from
 * a state file.
 *
 * Arguments (from the launcher): -nodisplay (no window), -noconsole (no questions),
 * -state FILE (answers of a silent install), -saveState FILE (write the answers used),
 * -id (print the wizard id and stop). Properties: java.io.tmpdir (the launcher's working
 * directory), temp.dir (its temporary directory), debug (trace on standard error).
 */
public class vantor {
    static final String WIZARD_ID = "vantor-demo-1.0";
    static final String TARGET_KEY = "target.dir";
    static final String PRODUCT_DIR = "product";

    static boolean debug;

    public static void main(String[] args) {
        try {
            System.exit(run(args));
        } catch (Failure failure) {
            System.err.println("vantor: " + failure.getMessage());
            System.exit(1);
        }
    }

    /** A failure the user can act on: reported as one line, exit status 1. */
    static final class Failure extends Exception {
        private static final long serialVersionUID = 1L;

        Failure(String message) {
            super(message);
        }
    }

    static int run(String[] args) throws Failure {
        debug = Boolean.getBoolean("debug");
        boolean noDisplay = false;
        boolean noConsole = false;
        boolean printId = false;
        String stateFile = null;
        String saveStateFile = null;
        for (int i = 0; i < args.length; i++) {
            String arg = args[i];
            if (arg.equals("-nodisplay")) {
                noDisplay = true;
            } else if (arg.equals("-noconsole")) {
                noConsole = true;
            } else if (arg.equals("-id")) {
                printId = true;
            } else if (arg.equals("-state") || arg.equals("-saveState")) {
                if (i + 1 >= args.length) {
                    throw new Failure(arg + " needs a file name");
                }
                if (arg.equals("-state")) {
                    stateFile = args[++i];
                } else {
                    saveStateFile = args[++i];
                }
            } else {
                throw new Failure("unknown argument " + arg);
            }
        }
        trace("arguments " + String.join(" ", args));
        trace("java.io.tmpdir=" + System.getProperty("java.io.tmpdir")
                + " temp.dir=" + System.getProperty("temp.dir")
                + " user.dir=" + System.getProperty("user.dir"));
        if (printId) {
            System.out.println(WIZARD_ID);
            return 0;
        }

        Properties answers = new Properties();
        if (stateFile != null) {
            answers = readState(stateFile);
        }
        String target = answers.getProperty(TARGET_KEY);
        if (target == null) {
            if (noConsole) {
                throw new Failure("a silent install needs a state file (-state FILE) with "
                        + TARGET_KEY + "=DIRECTORY");
            }
            boolean window = !noDisplay && !GraphicsEnvironment.isHeadless();
            target = window ? askTargetInWindow() : askTarget();
        }
        Path targetDir = checkTarget(target);
        answers.setProperty(TARGET_KEY, targetDir.toString());
        if (saveStateFile != null) {
            saveState(answers, saveStateFile);
        }
        install(Paths.get(PRODUCT_DIR), targetDir);
        return 0;
    }

    static void trace(String line) {
        if (debug) {
            System.err.println("vantor debug: " + line);
        }
    }

    static Properties readState(String file) throws Failure {
        Properties answers = new Properties();
        try (InputStream in = new FileInputStream(file)) {
            answers.load(in);
        } catch (IOException e) {
            throw new Failure("cannot read the state file " + file + ": " + e.getMessage());
        }
        if (answers.getProperty(TARGET_KEY) == null) {
            throw new Failure("state file " + file + " has no " + TARGET_KEY + "=DIRECTORY");
        }
        return answers;
    }

    static void saveState(Properties answers, String file) throws Failure {
        try (OutputStream out = new FileOutputStream(file)) {
            answers.store(out, "answers of the vantor demo installer");
        } catch (IOException e) {
            throw new Failure("cannot write the state file " + file + ": " + e.getMessage());
        }
        System.out.println("Answers saved in " + file);
    }

    static String suggestedTarget() {
        return System.getProperty("user.home", "/tmp") + File.separator + "vantor-demo";
    }

    /** Graphical mode: the program's first window asks for the target directory. */
    static String askTargetInWindow() throws Failure {
        Object answer = JOptionPane.showInputDialog(null,
                "Install the Vantor demo into this directory:", "Vantor demo installer",
                JOptionPane.QUESTION_MESSAGE, null, null, suggestedTarget());
        if (answer == null || answer.toString().trim().isEmpty()) {
            throw new Failure("installation cancelled");
        }
        return answer.toString().trim();
    }

    static String askTarget() throws Failure {
        String home = System.getProperty("user.home", "/tmp");
        String suggestion = suggestedTarget();
        BufferedReader in = new BufferedReader(
                new InputStreamReader(System.in, StandardCharsets.UTF_8));
        for (;;) {
            System.out.print("Install into which directory? [" + suggestion + "] ");
            System.out.flush();
            String line;
            try {
                line = in.readLine();
            } catch (IOException e) {
                throw new Failure("cannot read the answer: " + e.getMessage());
            }
            if (line == null) {
                System.out.println();
                throw new Failure("no target directory given (end of input)");
            }
            line = line.trim();
            if (line.isEmpty()) {
                return suggestion;
            }
            if (line.equals("~") || line.startsWith("~/")) {
                line = home + line.substring(1);
            }
            if (new File(line).isAbsolute()) {
                return line;
            }
            System.out.println("Please give an absolute path.");
        }
    }

    /** The launcher removes its working directory afterwards: nothing may land inside it. */
    static Path checkTarget(String target) throws Failure {
        Path dir = Paths.get(target);
        if (!dir.isAbsolute()) {
            throw new Failure(TARGET_KEY + " must be an absolute path: " + target);
        }
        dir = dir.normalize();
        Path current = Paths.get(System.getProperty("user.dir")).toAbsolutePath().normalize();
        if (dir.startsWith(current)) {
            throw new Failure(dir + " lies inside the installer's working directory, which is"
                    + " removed when the installer ends");
        }
        if (Files.exists(dir) && !Files.isDirectory(dir)) {
            throw new Failure(dir + " exists and is not a directory");
        }
        return dir;
    }

    static void install(Path source, Path target) throws Failure {
        if (!Files.isDirectory(source)) {
            throw new Failure("the payload has no " + PRODUCT_DIR + " directory in "
                    + Paths.get("").toAbsolutePath());
        }
        List<Path> files = new ArrayList<>();
        try (Stream<Path> walk = Files.walk(source)) {
            walk.filter(Files::isRegularFile).forEach(files::add);
        } catch (IOException e) {
            throw new Failure("cannot list the product files: " + e.getMessage());
        }
        Collections.sort(files);
        System.out.println("Installing " + files.size() + " files into " + target);
        int index = 0;
        for (Path file : files) {
            Path relative = source.relativize(file);
            Path destination = target.resolve(relative.toString());
            index++;
            System.out.println("  [" + index + "/" + files.size() + "] " + relative);
            try {
                Files.createDirectories(destination.getParent());
                Files.copy(file, destination, StandardCopyOption.REPLACE_EXISTING);
                setMode(destination, relative.startsWith("bin"));
            } catch (IOException e) {
                throw new Failure("cannot install " + destination + ": " + e);
            }
        }
        System.out.println("Installation complete.");
    }

    /** The launcher extracts every file with mode 0700, so the modes are set here. */
    static void setMode(Path file, boolean executable) throws IOException {
        Set<PosixFilePermission> mode = new HashSet<>();
        mode.add(PosixFilePermission.OWNER_READ);
        mode.add(PosixFilePermission.OWNER_WRITE);
        mode.add(PosixFilePermission.GROUP_READ);
        mode.add(PosixFilePermission.OTHERS_READ);
        if (executable) {
            mode.add(PosixFilePermission.OWNER_EXECUTE);
            mode.add(PosixFilePermission.GROUP_EXECUTE);
            mode.add(PosixFilePermission.OTHERS_EXECUTE);
        }
        Files.setPosixFilePermissions(file, mode);
    }
}
