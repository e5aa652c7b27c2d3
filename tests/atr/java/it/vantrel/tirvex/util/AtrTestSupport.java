package it.vantrel.tirvex.util;

import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.HexFormat;
import java.util.List;
import java.util.concurrent.TimeUnit;

/** Virtual cards through the PC/SC harness, and a child JVM for the native report on stdout. */
final class AtrTestSupport {
    static final String ATR19 = "3b8e800180318066b1840c016e01830090001c";
    static final String ATR20 = "3b8f8001804f0ca000000306030001000000006a";

    private AtrTestSupport() {
    }

    static byte[] bytes(String hex) {
        return HexFormat.of().parseHex(hex);
    }

    static void harness(String... arguments) throws IOException, InterruptedException {
        List<String> command = new ArrayList<>();
        command.add(System.getenv("ATR_PCSC_PYTHON"));
        command.add(System.getenv("ATR_PCSC_SCRIPT"));
        command.add(arguments[0]);
        command.add(System.getenv("ATR_PCSC_DIR"));
        for (int i = 1; i < arguments.length; i++) {
            command.add(arguments[i]);
        }
        Process process = new ProcessBuilder(command).inheritIO().start();
        if (!process.waitFor(60, TimeUnit.SECONDS) || process.exitValue() != 0) {
            throw new IllegalStateException("harness failed: " + command);
        }
    }

    static void insert(int slot, String atrHex) throws Exception {
        harness("insert", Integer.toString(slot), atrHex);
    }

    static void remove(int slot) throws Exception {
        harness("remove", Integer.toString(slot));
    }

    /** Runs ATR.main with "-v" in a fresh JVM on this build's atr.jar and returns its standard output. */
    static String verboseChildRun() throws IOException, InterruptedException {
        String java = ProcessHandle.current().info().command().orElse("java");
        Process process = new ProcessBuilder(java,
                "-Djava.library.path=" + System.getProperty("java.library.path"),
                "-cp", System.getProperty("vantrel.atrJar"), "it.vantrel.tirvex.util.ATR", "-v")
                .redirectErrorStream(true).start();
        ByteArrayOutputStream output = new ByteArrayOutputStream();
        try (InputStream in = process.getInputStream()) {
            in.transferTo(output);
        }
        process.waitFor(60, TimeUnit.SECONDS);
        return output.toString(StandardCharsets.ISO_8859_1);
    }
}
