package it.vantrel.pkcs11.demo;

import java.nio.charset.StandardCharsets;
import java.time.Duration;
import java.time.LocalDateTime;
import java.time.format.DateTimeFormatter;
import java.time.format.DateTimeParseException;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.LinkedHashMap;
import java.util.LinkedHashSet;
import java.util.List;
import java.util.Map;
import java.util.Set;

/**
 * Compares the dumps of one module through p11bridge and through the JDK's wrapper, line by
 * line, in steps. A difference of a known kind carries its explanation; any other difference
 * is a fault in one of the two bridges that nobody has explained yet.
 */
public final class DumpComparison {
    /** Extra mechanism flag bits on the JDK side only. */
    public static final String JDK_MECHANISM_FLAGS = "jdk-mechanism-flags";
    /** A CK_ULONG above 32 bits, which the bridge carries in a Java int. */
    public static final String BRIDGE_INT_WIDTH = "bridge-int-width";
    /** The token's clock, read once by each run. */
    public static final String TOKEN_CLOCK = "token-clock";
    /** A token or slot text that is not UTF-8, which the bridge turns into null. */
    public static final String BRIDGE_FOUR_BYTE_TEXT = "bridge-4-byte-utf8";
    /** Handles above 32 bits, which the bridge hands Java as 32-bit aliases. */
    public static final String BRIDGE_HANDLE_ALIAS = "bridge-handle-alias";
    /** A text with NUL bytes: the bridge ends a token text at the first, and drops those that end a label. */
    public static final String BRIDGE_TEXT_AT_NUL = "bridge-text-at-nul";

    private static final String[][] STEPS = {{"module", "module info", "load"}, {"slots", "slots", "slot"},
        {"tokens", "token"}, {"mechanisms", "mechanisms", "mechanism"}, {"sessions", "session"},
        {"objects", "objects", "object", "search"}, {"signature", "signature"}};
    private static final String JDK = "the JDK's wrapper";
    private static final String BRIDGE = "the bridge";
    /** Who is at fault for each kind of difference, and why it arises. */
    private static final Map<String, String[]> EXPLANATIONS = Map.of(JDK_MECHANISM_FLAGS,
            new String[] {JDK, "it passes an uncleared CK_MECHANISM_INFO and the module ORs its flags into it: "
                    + "the extra bits are the wrapper's stack leftovers"},
            BRIDGE_INT_WIDTH, new String[] {BRIDGE, "it carries a CK_ULONG in a Java int: a value above 32 bits "
                    + "(CK_UNAVAILABLE_INFORMATION and the like) arrives as its low 32 bits"},
            TOKEN_CLOCK, new String[] {"neither", "the token's clock moved between the two runs"},
            BRIDGE_FOUR_BYTE_TEXT, new String[] {BRIDGE, "it gives no text (null) for a token or slot text "
                    + "that is not UTF-8"},
            BRIDGE_TEXT_AT_NUL, new String[] {BRIDGE, "it ends a token text at its first NUL byte and takes the "
                    + "NUL bytes at the end of a label for padding"},
            BRIDGE_HANDLE_ALIAS, new String[] {"neither", "the module's handles do not fit in 32 bits: the bridge "
                    + "hands Java a 32-bit alias for each and gives the module the whole handle back"});
    private static final DateTimeFormatter UTC_TIME = DateTimeFormatter.ofPattern("yyyyMMddHHmmss");

    public record Difference(String key, String bridge, String jdk, String kind) {
        public boolean explained() {
            return kind != null;
        }

        /** Who is at fault: the JDK's wrapper, the bridge, or neither. */
        public String fault() {
            return kind == null ? "unknown" : EXPLANATIONS.get(kind)[0];
        }

        public String explanation() {
            return kind == null ? "not explained" : EXPLANATIONS.get(kind)[1];
        }
    }

    /** One step's lines (key, then the value when both sides agree) and its differences. */
    public record Step(String name, Map<String, String> equal, List<Difference> differences) {
        public int compared() {
            return equal.size() + differences.size();
        }

        public boolean unexplained() {
            return differences.stream().anyMatch(d -> !d.explained());
        }

        public String verdict() {
            long explained = differences.stream().filter(Difference::explained).count();
            String outcome = unexplained() ? "DIFFERENT" : differences.isEmpty() ? "same" : "same but for known differences";
            return compared() + " lines, " + equal.size() + " equal, " + explained + " explained, "
                    + (differences.size() - explained) + " unexplained: " + outcome;
        }
    }

    private DumpComparison() {
    }

    public static List<Step> compare(DumpLines bridge, DumpLines jdk) {
        Set<String> keys = new LinkedHashSet<>(bridge.lines().keySet());
        keys.addAll(jdk.lines().keySet());
        Map<String, Step> steps = new LinkedHashMap<>();
        for (String[] step : STEPS) steps.put(step[0], new Step(step[0], new LinkedHashMap<>(), new ArrayList<>()));
        for (String key : keys) {
            Step step = steps.get(stepOf(key));
            String b = bridge.lines().getOrDefault(key, "(absent)");
            String j = jdk.lines().getOrDefault(key, "(absent)");
            if (b.equals(j)) {
                step.equal().put(key, b);
            } else {
                boolean aliased = key.endsWith(".handleWidth") && b.equals(ModuleDump.NARROW) && j.equals(ModuleDump.WIDE);
                step.differences().add(new Difference(key, b, j, aliased ? BRIDGE_HANDLE_ALIAS : kindOf(key, b, j)));
            }
        }
        return new ArrayList<>(steps.values());
    }

    private static String stepOf(String key) {
        String head = key.contains(".") ? key.substring(0, key.indexOf('.')) : key;
        for (String[] step : STEPS) {
            for (int i = 1; i < step.length; i++) {
                if (step[i].equals(head)) return step[0];
            }
        }
        return "module";
    }

    private static Long unsigned(String value) {
        try {
            return value.startsWith("0x") ? Long.parseUnsignedLong(value.substring(2), 16)
                                          : Long.parseUnsignedLong(value);
        } catch (NumberFormatException e) {
            return null;
        }
    }

    private static String kindOf(String key, String b, String j) {
        Long bn = unsigned(b);
        Long jn = unsigned(j);
        if (bn != null && jn != null) {
            if (key.startsWith("mechanism.") && key.endsWith(".flags") && (jn & bn) == bn) return JDK_MECHANISM_FLAGS;
            if (Long.compareUnsigned(jn, 0xFFFFFFFFL) > 0 && (jn & 0xFFFFFFFFL) == bn) return BRIDGE_INT_WIDTH;
            return null;
        }
        if (key.endsWith(".utcTime") && clockMoved(DumpLines.bytesOf(b), DumpLines.bytesOf(j))) return TOKEN_CLOCK;
        if (key.endsWith(".label.text")) {
            // The JDK side decoded the label's bytes; the bridge drops the NUL bytes that end it.
            String bt = DumpLines.unescaped(b);
            String jt = DumpLines.unescaped(j);
            String unpadded = jt == null ? null : jt.replaceAll("\0+$", "");
            return unpadded != null && !unpadded.equals(jt) && unpadded.equals(bt) ? BRIDGE_TEXT_AT_NUL : null;
        }
        byte[] jb = DumpLines.bytesOf(j);
        if (jb == null || key.startsWith("object.")) return null;
        if (b.equals("null")) {
            for (byte x : jb) {
                if ((x & 0xF8) == 0xF0) return BRIDGE_FOUR_BYTE_TEXT;
            }
            return null;
        }
        byte[] bb = DumpLines.bytesOf(b);
        for (int i = 0; bb != null && i < jb.length; i++) {
            if (jb[i] == 0) return Arrays.equals(bb, Arrays.copyOf(jb, i)) ? BRIDGE_TEXT_AT_NUL : null;
        }
        return null;
    }

    /** Two readings of a token clock (16 characters, seconds then two more) a short while apart. */
    private static boolean clockMoved(byte[] bb, byte[] jb) {
        if (bb == null || jb == null || bb.length != 16 || jb.length != 16) return false;
        try {
            LocalDateTime bt = LocalDateTime.parse(new String(bb, 0, 14, StandardCharsets.US_ASCII), UTC_TIME);
            LocalDateTime jt = LocalDateTime.parse(new String(jb, 0, 14, StandardCharsets.US_ASCII), UTC_TIME);
            return Duration.between(bt, jt).abs().compareTo(Duration.ofMinutes(10)) < 0;
        } catch (DateTimeParseException e) {
            return false;
        }
    }
}
