package it.vantrel.pkcs11.demo;

import java.io.IOException;
import java.io.OutputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.TimeUnit;

/**
 * Runs {@link ModuleDump} in a JVM of its own for each side: the JDK's wrapper and the bridge
 * must not share a process (each binds and initialises the module for itself).
 */
public final class DumpProcesses {
    private static final long TIMEOUT_SECONDS = 300;

    private DumpProcesses() {
    }

    /** The class path of the dump programs: vantrel.dumpClasspath when set, else this JVM's own. */
    private static String classPath() {
        return System.getProperty("vantrel.dumpClasspath", System.getProperty("java.class.path"));
    }

    /**
     * The dump of one side ("bridge" or "jdk"), also kept in the file given (null: not kept).
     * The PIN (null: no login) reaches the child on its standard input.
     */
    public static DumpLines run(String side, String module, String pin, Long slot, Path keep)
            throws IOException, InterruptedException {
        List<String> command = new ArrayList<>();
        command.add(Paths.get(System.getProperty("java.home"), "bin", "java").toString());
        if (side.equals("jdk")) {
            command.addAll(List.of("--add-modules", "jdk.crypto.cryptoki", "--add-exports",
                    "jdk.crypto.cryptoki/sun.security.pkcs11.wrapper=ALL-UNNAMED"));
        } else {
            command.add("-Djava.library.path=" + System.getProperty("java.library.path"));
        }
        command.addAll(List.of("-cp", classPath(), ModuleDump.class.getName(), side, module));
        if (pin != null) command.add("--login");
        if (slot != null) command.addAll(List.of("--slot", Long.toUnsignedString(slot)));
        Path out = Files.createTempFile("dump-" + side, ".txt");
        try {
            Process process = new ProcessBuilder(command).redirectOutput(out.toFile())
                                      .redirectError(ProcessBuilder.Redirect.INHERIT).start();
            try (OutputStream stdin = process.getOutputStream()) {
                if (pin != null) stdin.write((pin + "\n").getBytes(StandardCharsets.UTF_8));
            }
            if (!process.waitFor(TIMEOUT_SECONDS, TimeUnit.SECONDS)) {
                process.destroyForcibly();
                throw new IOException("the " + side + " dump did not end");
            }
            String text = Files.readString(out, StandardCharsets.US_ASCII);
            if (process.exitValue() != 0) throw new IOException("the " + side + " dump failed (" + process.exitValue() + ")");
            if (keep != null) Files.writeString(keep, text, StandardCharsets.US_ASCII);
            return DumpLines.parse(text);
        } finally {
            Files.deleteIfExists(out);
        }
    }
}
