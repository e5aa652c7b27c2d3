package it.vantrel.pkcs11.demo;

import it.vantrel.pkcs11.PKCS11Exception;
import it.vantrel.pkcs11.PKCS11Info;
import it.vantrel.pkcs11.PKCS11SlotInfo;
import it.vantrel.pkcs11.PKCS11TokenInfo;
import it.vantrel.pkcs11.nat.NativePKCS11;
import it.vantrel.pkcs11.nat.NativePKCS11Slot;

import java.io.BufferedReader;
import java.io.Console;
import java.io.IOException;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.List;
import java.util.Map;

/**
 * Loads a Cryptoki module through p11bridge and prints its information and its slots; with
 * --compare, the compatibility report: the module dumped through the bridge and through the
 * JDK's own wrapper, each in a JVM of its own, compared step by step.
 */
public final class ModuleReport {
    private static final String USAGE = "usage: ModuleReport <path of a Cryptoki module>\n"
            + "       ModuleReport --compare <path of a Cryptoki module> [--login] [--slot ID] [--brief] [--keep DIR]";

    private ModuleReport() {
    }

    public static void main(String[] args) throws IOException, InterruptedException {
        if (args.length >= 2 && args[0].equals("--compare")) {
            try {
                System.exit(compare(args) ? 0 : 1);
            } catch (IOException e) {
                System.err.println("failed: " + e.getMessage());
                System.exit(1);
            }
        }
        if (args.length != 1) {
            System.err.println(USAGE);
            System.exit(2);
        }
        NativePKCS11 module = new NativePKCS11();
        try {
            System.out.println("bridge version " + module.getBridgeVersion());
            module.loadPKCS11Library(args[0]);
            module.libInitialize();
            try {
                report(module);
            } finally {
                module.libFinalize();
            }
        } catch (PKCS11Exception e) {
            System.err.println("failed: " + e.getMessage());
            System.exit(1);
        }
    }

    private static String version(int value) {
        return (value >> 8) + "." + (value & 0xFF);
    }

    private static void report(NativePKCS11 module) throws PKCS11Exception {
        PKCS11Info info = module.getInfo();
        System.out.println("module " + info.libraryDescription.trim() + " " + version(info.libraryVersion)
                + " by " + info.manufacturerID.trim() + ", Cryptoki " + version(info.cryptokiVersion));
        NativePKCS11Slot[] slots = module.getSlotList(false);
        System.out.println((slots == null ? 0 : slots.length) + " slot(s)");
        if (slots == null) {
            return;
        }
        for (NativePKCS11Slot slot : slots) {
            PKCS11SlotInfo slotInfo = slot.getInfo();
            System.out.println("slot " + Integer.toUnsignedString(slot.getSlotID()) + ": "
                    + slotInfo.slotDescription.trim() + " (flags 0x" + Integer.toHexString(slotInfo.flags) + ")");
            if ((slotInfo.flags & 1) == 0) {
                System.out.println("  no token");
                continue;
            }
            PKCS11TokenInfo token = slot.getTokenInfo();
            System.out.println("  token '" + token.label.trim() + "', model " + token.model.trim() + ", serial "
                    + token.serialNumber.trim() + ", " + slot.getMechanismList().length + " mechanisms");
        }
    }

    /** The user PIN, from the console without echo, or else the first line of standard input. */
    private static String readPin() throws IOException {
        Console console = System.console();
        if (console != null) {
            char[] pin = console.readPassword("user PIN: ");
            return pin == null ? null : new String(pin);
        }
        return new BufferedReader(new InputStreamReader(System.in, StandardCharsets.UTF_8)).readLine();
    }

    /** The compatibility report; true when every difference is a known one. */
    private static boolean compare(String[] args) throws IOException, InterruptedException {
        String module = args[1];
        String pin = null;
        Long slot = null;
        boolean brief = false;
        Path keep = null;
        for (int i = 2; i < args.length; i++) {
            switch (args[i]) {
                case "--login" -> pin = readPin();
                case "--slot" -> slot = Long.parseUnsignedLong(args[++i]);
                case "--brief" -> brief = true;
                case "--keep" -> keep = Paths.get(args[++i]);
                default -> {
                    System.err.println(USAGE);
                    System.exit(2);
                }
            }
        }
        if (keep != null) Files.createDirectories(keep);
        DumpLines bridge = DumpProcesses.run("bridge", module, pin, slot, keep == null ? null : keep.resolve("bridge.txt"));
        DumpLines jdk = DumpProcesses.run("jdk", module, pin, slot, keep == null ? null : keep.resolve("jdk.txt"));
        List<DumpComparison.Step> steps = DumpComparison.compare(bridge, jdk);
        boolean compatible = true;
        boolean bridgeLimited = false;
        int compared = 0;
        int equal = 0;
        for (DumpComparison.Step step : steps) {
            System.out.println("== " + step.name());
            if (!brief) {
                for (Map.Entry<String, String> line : step.equal().entrySet()) {
                    System.out.println("  " + line.getKey() + " " + line.getValue());
                }
            }
            for (DumpComparison.Difference d : step.differences()) {
                System.out.println("! " + d.key() + ": bridge " + d.bridge() + ", JDK " + d.jdk());
                System.out.println("    " + (d.explained() ? "known, " + d.fault() + ": " : "UNEXPLAINED: ")
                        + d.explanation());
                bridgeLimited |= d.fault().equals("the bridge");
            }
            System.out.println("verdict " + step.name() + ": " + step.verdict());
            compatible &= !step.unexplained();
            compared += step.compared();
            equal += step.equal().size();
        }
        System.out.println("summary: " + compared + " lines compared, " + equal + " equal: "
                + (!compatible ? "DIFFERENCES NOT EXPLAINED"
                               : bridgeLimited ? "COMPATIBLE BUT FOR KNOWN LIMITS OF THE BRIDGE" : "COMPATIBLE"));
        return compatible;
    }
}
