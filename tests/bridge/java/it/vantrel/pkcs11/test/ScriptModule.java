package it.vantrel.pkcs11.test;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

/**
 * Control of the scriptable Cryptoki module: the script it answers from and the record of the
 * calls it received (keys in tests/bridge/scriptmodule/script.h).
 */
public final class ScriptModule {
    private ScriptModule() {
    }

    public static String path() {
        return System.getProperty("vantrel.scriptModule");
    }

    public static String pathWithoutFunctionList() {
        return System.getProperty("vantrel.scriptModuleNoList");
    }

    public static String pathWithoutExtension() {
        return System.getProperty("vantrel.scriptModuleNoExtension");
    }

    private static Path scriptFile() {
        return Paths.get(System.getenv("P11SCRIPT_FILE"));
    }

    private static Path recordFile() {
        return Paths.get(System.getenv("P11SCRIPT_RECORD"));
    }

    /** Replaces the script with the given "key value" lines and forgets the recorded calls. */
    public static void script(String... lines) {
        try {
            Files.write(scriptFile(), String.join("\n", lines).concat("\n").getBytes(StandardCharsets.ISO_8859_1));
            Files.deleteIfExists(recordFile());
        } catch (IOException e) {
            throw new IllegalStateException(e);
        }
    }

    /** Adds lines to the current script; latin-1 so a test can write any byte. */
    public static void append(String... lines) {
        try {
            List<String> current = new ArrayList<>(Files.readAllLines(scriptFile(), StandardCharsets.ISO_8859_1));
            current.addAll(Arrays.asList(lines));
            Files.write(scriptFile(), String.join("\n", current).concat("\n").getBytes(StandardCharsets.ISO_8859_1));
        } catch (IOException e) {
            throw new IllegalStateException(e);
        }
    }

    /** The calls recorded since the script was last replaced or the record cleared. */
    public static List<String> calls() {
        try {
            Path record = recordFile();
            return Files.exists(record) ? Files.readAllLines(record, StandardCharsets.ISO_8859_1) : List.of();
        } catch (IOException e) {
            throw new IllegalStateException(e);
        }
    }

    public static void clearCalls() {
        try {
            Files.deleteIfExists(recordFile());
        } catch (IOException e) {
            throw new IllegalStateException(e);
        }
    }

    /** Hex of the UTF-8 bytes of a text, as the record shows byte arguments. */
    public static String hex(String text) {
        StringBuilder out = new StringBuilder();
        for (byte b : text.getBytes(StandardCharsets.UTF_8)) {
            out.append(String.format("%02x", b & 0xFF));
        }
        return out.toString();
    }
}
