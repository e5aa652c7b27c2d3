package it.vantrel.pkcs11.interop;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assumptions.assumeFalse;

import it.vantrel.pkcs11.demo.DumpComparison;
import it.vantrel.pkcs11.demo.DumpComparison.Difference;
import it.vantrel.pkcs11.demo.DumpLines;
import it.vantrel.pkcs11.demo.DumpProcesses;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.TreeSet;
import java.util.concurrent.TimeUnit;
import java.util.stream.Collectors;

import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

/**
 * One real module (vantrel.interop.module, case vantrel.interop.case) dumped through the bridge
 * and through the JDK's wrapper: the dumps agree but for differences whose cause is known, and
 * where the cause is a fault of the JDK's wrapper or of the bridge, the suite shows it.
 */
class InteropTest {
    private static final String CASE = System.getProperty("vantrel.interop.case");
    private static final String MODULE = System.getProperty("vantrel.interop.module");
    // The PIN of the token the fixture made (tests/interop/softhsm_objects.sh).
    private static final String PIN = Boolean.getBoolean("vantrel.interop.login") ? "1234" : null;
    private static final long CKM_AES_ECB = 0x1081;
    private static final long CKF_TOKEN_PRESENT = 0x1;
    /** The kinds of difference each module shows; any other kind is news. */
    private static final Map<String, Set<String>> KNOWN_KINDS = Map.of(
            "softhsm_public", Set.of(DumpComparison.JDK_MECHANISM_FLAGS, DumpComparison.BRIDGE_INT_WIDTH,
                    DumpComparison.TOKEN_CLOCK),
            "softhsm_login", Set.of(DumpComparison.JDK_MECHANISM_FLAGS, DumpComparison.BRIDGE_INT_WIDTH,
                    DumpComparison.TOKEN_CLOCK),
            "p11kit_trust", Set.of(DumpComparison.BRIDGE_INT_WIDTH, DumpComparison.BRIDGE_TEXT_AT_NUL),
            "opensc_none", Set.of(),
            "opensc_empty", Set.of(),
            "opensc_card", Set.of(DumpComparison.BRIDGE_HANDLE_ALIAS),
            "tpm2", Set.of(DumpComparison.BRIDGE_HANDLE_ALIAS, DumpComparison.BRIDGE_INT_WIDTH,
                    DumpComparison.BRIDGE_TEXT_AT_NUL, DumpComparison.TOKEN_CLOCK, DumpComparison.JDK_MECHANISM_FLAGS));

    private static DumpLines bridge;
    private static DumpLines jdk;
    private static List<Difference> differences;

    @BeforeAll
    static void dumpBothWays() throws IOException, InterruptedException {
        bridge = DumpProcesses.run("bridge", MODULE, PIN, null, null);
        jdk = DumpProcesses.run("jdk", MODULE, PIN, null, null);
        differences = new ArrayList<>();
        int compared = 0;
        int equal = 0;
        for (DumpComparison.Step step : DumpComparison.compare(bridge, jdk)) {
            compared += step.compared();
            equal += step.equal().size();
            differences.addAll(step.differences());
        }
        // The figures of the compatibility table.
        System.out.println("interop " + CASE + ": " + compared + " lines compared, " + equal + " equal");
        for (Difference d : differences) {
            System.out.println("  " + d.key() + ": bridge " + d.bridge() + ", JDK " + d.jdk() + " -- " + d.kind());
        }
    }

    private static String bridgeLine(String key) {
        return bridge.lines().get(key);
    }

    private static List<String> bridgeKeys(String regex) {
        return bridge.lines().keySet().stream().filter(k -> k.matches(regex)).toList();
    }

    @Test
    void everyDifferenceHasAKnownCause() {
        List<Difference> unexplained = differences.stream().filter(d -> !d.explained()).toList();
        assertTrue(unexplained.isEmpty(), "differences without a known cause: " + unexplained);
        Set<String> kinds = differences.stream().map(Difference::kind).collect(Collectors.toCollection(TreeSet::new));
        assertTrue(KNOWN_KINDS.get(CASE).containsAll(kinds), CASE + " shows kinds of difference new to it: " + kinds);
    }

    /** The module's answer into a cleared and into a prefilled structure, from native code. */
    private static long[] probe(String slot, long mechanism, long prefill) throws IOException, InterruptedException {
        Process process = new ProcessBuilder(System.getProperty("vantrel.mechanismProbe"), MODULE,
                Long.toHexString(Long.parseLong(slot)), Long.toHexString(mechanism), Long.toHexString(prefill))
                                  .redirectError(ProcessBuilder.Redirect.INHERIT).start();
        String out = new String(process.getInputStream().readAllBytes(), StandardCharsets.US_ASCII);
        assertTrue(process.waitFor(60, TimeUnit.SECONDS) && process.exitValue() == 0, "probe failed: " + out);
        String[] lines = out.split("\n");
        return new long[] {Long.parseUnsignedLong(lines[0].substring("cleared 0x".length()), 16),
            Long.parseUnsignedLong(lines[1].substring("prefilled 0x".length()), 16)};
    }

    /**
     * Flag bits only the JDK's wrapper saw are the caller's: handed the same bits in a
     * prefilled structure, the module answers exactly what the wrapper reported, and into a
     * cleared one exactly what the bridge reported.
     */
    @Test
    void extraMechanismFlagsAreLeftoversOfTheJdksWrapper() throws IOException, InterruptedException {
        List<Difference> flags =
                differences.stream().filter(d -> DumpComparison.JDK_MECHANISM_FLAGS.equals(d.kind())).toList();
        assumeFalse(flags.isEmpty(), "no extra flags on the JDK side in this run");
        for (Difference d : flags) {
            String[] parts = d.key().split("\\.");
            long bridgeFlags = Long.parseUnsignedLong(d.bridge().substring(2), 16);
            long jdkFlags = Long.parseUnsignedLong(d.jdk().substring(2), 16);
            long[] answers = probe(parts[1], Long.parseUnsignedLong(parts[2].substring(2), 16), jdkFlags & ~bridgeFlags);
            assertEquals(bridgeFlags, answers[0], d.key() + ": the bridge's flags are the module's own");
            assertEquals(jdkFlags, answers[1], d.key() + ": the JDK's flags are the module's ORed into leftovers");
        }
        System.out.println("JDK wrapper fault shown on " + flags.size() + " mechanism(s): it does not clear "
                + "CK_MECHANISM_INFO before the call, and this module ORs into it");
    }

    @Test
    void moduleFactsOfThisCase() throws IOException, InterruptedException {
        switch (CASE) {
            case "softhsm_public", "softhsm_login" -> softHsm();
            case "p11kit_trust" -> trustModule();
            case "opensc_none" -> assertEquals("none", bridgeLine("slots.all"));
            case "opensc_empty" -> emptyReaders();
            case "opensc_card" -> unknownCard();
            case "tpm2" -> tpmToken();
            default -> throw new AssertionError("unknown case " + CASE);
        }
    }

    /** The slot of the fixture's token ("interop"), or else the one slot where a session opened. */
    private static String tokenSlot() {
        List<String> opened = bridgeKeys("session\\.\\d+\\.open").stream()
                                      .filter(k -> bridgeLine(k).equals("ok"))
                                      .map(k -> k.split("\\.")[1])
                                      .toList();
        List<String> labelled = opened.stream()
                                        .filter(slot -> String.valueOf(bridgeLine("token." + slot + ".label"))
                                                                .startsWith("'interop "))
                                        .toList();
        List<String> slots = labelled.isEmpty() ? opened : labelled;
        assertEquals(1, slots.size(), "one token with a session: " + slots);
        return slots.get(0);
    }

    private void softHsm() throws IOException, InterruptedException {
        String slot = tokenSlot();
        // The module ORs into the caller's structure (the reason the bridge clears it first).
        long[] answers = probe(slot, CKM_AES_ECB, 0x40000000L);
        assertEquals(answers[0] | 0x40000000L, answers[1], "SoftHSM2 ORs its flags into CK_MECHANISM_INFO");
        assertEquals(DumpLines.hex(answers[0]), bridgeLine("mechanism." + slot + ".0x1081.flags"));
        // The data object's label is read as text equal to its UTF-8 bytes, on both sides.
        String dataLabel = "object." + slot + ".0.label.text";
        assertEquals("0x0", bridgeLine("object." + slot + ".0.class"));
        assertEquals("Größe € ✓", DumpLines.unescaped(bridgeLine(dataLabel)));
        assertEquals(bridgeLine(dataLabel), jdk.lines().get(dataLabel));
        if (PIN == null) {
            assertEquals("skipped", bridgeLine("session." + slot + ".login"));
            assertEquals("4", bridgeLine("objects." + slot + ".count"), "the private key stays hidden");
            assertEquals("no RSA signing key", bridgeLine("signature." + slot));
        } else {
            assertEquals("1", bridgeLine("session." + slot + ".after.state"), "CKS_RO_USER_FUNCTIONS");
            assertEquals("5", bridgeLine("objects." + slot + ".count"));
            String signature = bridgeLine("signature." + slot + ".value");
            assertTrue(signature != null && signature.length() == "hex:".length() + 512, signature);
            assertEquals(signature, jdk.lines().get("signature." + slot + ".value"));
        }
    }

    /** Hundreds of objects, some of vendor classes above 2^31, which a search template must carry whole. */
    private void trustModule() {
        String slot = tokenSlot();
        assertTrue(Integer.parseInt(bridgeLine("objects." + slot + ".count")) > 200);
        List<String> vendorSearches = bridgeKeys("search\\." + slot + "\\.class\\.0x[89a-f].{7}");
        assertFalse(vendorSearches.isEmpty(), "no vendor-defined class");
        for (String search : vendorSearches) {
            String objectClass = search.substring(search.lastIndexOf('.') + 1);
            long seen = bridgeKeys("object\\." + slot + "\\.\\d+\\.class").stream()
                                .filter(k -> bridgeLine(k).equals(objectClass)).count();
            assertTrue(seen > 0);
            assertEquals(Long.toString(seen), bridgeLine(search), "a search for class " + objectClass);
        }
    }

    private void emptyReaders() {
        List<String> slots = List.of(bridgeLine("slots.all").split(","));
        assertEquals(2, slots.size());
        assertEquals("none", bridgeLine("slots.withToken"));
        for (String slot : slots) {
            assertEquals(0, Long.decode(bridgeLine("slot." + slot + ".flags")) & CKF_TOKEN_PRESENT);
            assertEquals("error 0xe0", bridgeLine("token." + slot), "CKR_TOKEN_NOT_PRESENT");
        }
    }

    /**
     * A card opensc does not know: the slot has a token that is not recognised, yet a session
     * opens, and its handle (a pointer) does not fit in 32 bits: the bridge works on it through
     * its alias.
     */
    private void unknownCard() {
        String slot = tokenSlot();
        assertEquals(CKF_TOKEN_PRESENT, Long.decode(bridgeLine("slot." + slot + ".flags")) & CKF_TOKEN_PRESENT);
        assertEquals("error 0xe1", bridgeLine("token." + slot), "CKR_TOKEN_NOT_RECOGNIZED");
        assertEquals("above 32 bits", jdk.lines().get("session." + slot + ".handleWidth"));
        assertEquals("1", bridgeLine("session." + slot + ".before.state"));
        assertNull(bridgeLine("session." + slot + ".close"), "no error closing the session");
    }

    /**
     * The TPM's token: its session handles do not fit in 32 bits either, and through their
     * aliases the bridge logs in, sees the key pair and signs as the JDK's wrapper does.
     */
    private void tpmToken() {
        String slot = tokenSlot();
        assertEquals("above 32 bits", jdk.lines().get("session." + slot + ".handleWidth"));
        assertEquals("ok", bridgeLine("session." + slot + ".login"));
        assertEquals("2", bridgeLine("objects." + slot + ".count"));
        assertEquals(jdk.lines().get("signature." + slot + ".value"), bridgeLine("signature." + slot + ".value"));
    }
}
