package it.vantrel.pkcs11.test;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.concurrent.TimeUnit;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

/**
 * Runs a scenario of {@link Scenarios} in a fresh JVM: the bridge's trace switch and its
 * standard output belong to the process, so every trace check needs its own.
 */
public final class BridgeProcess {
    public final String stdout;
    public final String stderr;
    public final int exitCode;
    public final Path workDir;

    private BridgeProcess(String stdout, String stderr, int exitCode, Path workDir) {
        this.stdout = stdout;
        this.stderr = stderr;
        this.exitCode = exitCode;
        this.workDir = workDir;
    }

    /** Runs the scenario with PKCS11_OXL_DEBUG set to debug (null: unset), in a new folder. */
    public static BridgeProcess run(String debug, String scenario, String... args) {
        return runDriver(Scenarios.class, debug, scenario, args);
    }

    /** The same with another driver class (a main taking the scenario name, then its steps). */
    public static BridgeProcess runDriver(Class<?> driver, String debug, String scenario, String... args) {
        return runDriverWithOptions(driver, List.of(), debug, scenario, args);
    }

    /** The same with options for the child JVM (-Xcheck:jni, ...). */
    public static BridgeProcess runDriverWithOptions(Class<?> driver, List<String> jvmOptions, String debug,
            String scenario, String... args) {
        try {
            Path workDir = Files.createTempDirectory(Paths.get(System.getenv("BRIDGE_WORK_DIR")), scenario);
            List<String> command = new ArrayList<>();
            command.add(Paths.get(System.getProperty("java.home"), "bin", "java").toString());
            command.addAll(jvmOptions);
            command.add("-cp");
            command.add(System.getProperty("vantrel.classpath"));
            for (String property : List.of("java.library.path", "vantrel.scriptModule", "vantrel.scriptModuleNoList",
                    "vantrel.scriptModuleNoExtension", "vantrel.softhsm")) {
                command.add("-D" + property + "=" + System.getProperty(property));
            }
            command.add(driver.getName());
            command.add(scenario);
            command.addAll(List.of(args));
            ProcessBuilder builder = new ProcessBuilder(command).directory(workDir.toFile());
            Map<String, String> environment = builder.environment();
            environment.remove("PKCS11_OXL_DEBUG");
            if (debug != null) {
                environment.put("PKCS11_OXL_DEBUG", debug);
            }
            Path out = workDir.resolve("stdout.txt");
            Path err = workDir.resolve("stderr.txt");
            builder.redirectOutput(out.toFile()).redirectError(err.toFile());
            Process process = builder.start();
            if (!process.waitFor(120, TimeUnit.SECONDS)) {
                process.destroyForcibly();
                throw new IllegalStateException("scenario " + scenario + " did not end");
            }
            return new BridgeProcess(Files.readString(out, StandardCharsets.ISO_8859_1),
                    Files.readString(err, StandardCharsets.ISO_8859_1), process.exitValue(), workDir);
        } catch (IOException | InterruptedException e) {
            throw new IllegalStateException(e);
        }
    }

    /** The trace file the bridge redirects standard output to ("" when absent). */
    public String traceFile() {
        try {
            Path file = workDir.resolve("jpkcs110.log");
            return Files.exists(file) ? Files.readString(file, StandardCharsets.ISO_8859_1) : "";
        } catch (IOException e) {
            throw new IllegalStateException(e);
        }
    }

    /**
     * True when the text equals the expected one, where every "{addr}" stands for one hex
     * address (module handles and entry addresses differ from run to run).
     */
    public static boolean matches(String expected, String actual) {
        StringBuilder regex = new StringBuilder();
        Matcher placeholder = Pattern.compile("\\{addr\\}").matcher(expected);
        int last = 0;
        while (placeholder.find()) {
            regex.append(Pattern.quote(expected.substring(last, placeholder.start()))).append("[0-9a-f]+");
            last = placeholder.end();
        }
        regex.append(Pattern.quote(expected.substring(last)));
        return Pattern.compile(regex.toString(), Pattern.DOTALL).matcher(actual).matches();
    }
}
