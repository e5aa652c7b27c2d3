package it.vantrel.pkcs11.demo;

import java.io.BufferedReader;
import java.io.IOException;
import java.io.PrintStream;
import java.io.StringReader;
import java.nio.charset.StandardCharsets;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.util.LinkedHashMap;
import java.util.Map;

/**
 * The compatibility dump of a Cryptoki module: one fact per line, "key value", in a stable
 * order, so that the dumps of two bridges to the same module can be compared line by line.
 * Both dumpers write through here, so a fact reads the same whichever side saw it.
 */
public final class DumpLines {
    // Values longer than this are shown by length and digest.
    private static final int LONG_VALUE = 64;

    private final Map<String, String> lines = new LinkedHashMap<>();

    public void put(String key, String value) {
        lines.put(key, value);
    }

    public Map<String, String> lines() {
        return lines;
    }

    public void print(PrintStream out) {
        for (Map.Entry<String, String> line : lines.entrySet()) out.println(line.getKey() + " " + line.getValue());
    }

    public static DumpLines parse(String text) throws IOException {
        DumpLines dump = new DumpLines();
        BufferedReader reader = new BufferedReader(new StringReader(text));
        for (String line = reader.readLine(); line != null; line = reader.readLine()) {
            int blank = line.indexOf(' ');
            if (blank > 0) dump.put(line.substring(0, blank), line.substring(blank + 1));
        }
        return dump;
    }

    public static String hex(long value) {
        return "0x" + Long.toHexString(value);
    }

    public static String number(long value) {
        return Long.toUnsignedString(value);
    }

    public static String version(int major, int minor) {
        return (major & 0xFF) + "." + (minor & 0xFF);
    }

    public static String hex(byte[] bytes) {
        StringBuilder text = new StringBuilder(bytes.length * 2);
        for (byte b : bytes) text.append(Character.forDigit((b >> 4) & 0xF, 16)).append(Character.forDigit(b & 0xF, 16));
        return text.toString();
    }

    /** Printable ASCII in quotes, anything else as hex; null (the bridge gave no text) as "null". */
    public static String text(byte[] bytes) {
        if (bytes == null) return "null";
        for (byte b : bytes) {
            if (b < 0x20 || b > 0x7E) return "hex:" + hex(bytes);
        }
        return "'" + new String(bytes, StandardCharsets.US_ASCII) + "'";
    }

    /** The bytes of a text or hex value as {@link #text} wrote it; null for any other value. */
    public static byte[] bytesOf(String value) {
        if (value.length() >= 2 && value.startsWith("'") && value.endsWith("'")) {
            return value.substring(1, value.length() - 1).getBytes(StandardCharsets.US_ASCII);
        }
        if (!value.startsWith("hex:") || value.length() % 2 != 0) return null;
        byte[] bytes = new byte[(value.length() - 4) / 2];
        for (int i = 0; i < bytes.length; i++) bytes[i] = (byte) Integer.parseInt(value.substring(4 + 2 * i, 6 + 2 * i), 16);
        return bytes;
    }

    /** A Java text, non-ASCII and control characters escaped, so the dump stays ASCII. */
    public static String escaped(String text) {
        if (text == null) return "null";
        StringBuilder out = new StringBuilder("'");
        for (char c : text.toCharArray()) {
            if (c >= 0x20 && c < 0x7F && c != '\\') {
                out.append(c);
            } else {
                out.append(String.format("\\u%04x", (int) c));
            }
        }
        return out.append('\'').toString();
    }

    /** The text {@link #escaped} wrote; null for any other value. */
    public static String unescaped(String value) {
        if (value.length() < 2 || !value.startsWith("'") || !value.endsWith("'")) return null;
        StringBuilder text = new StringBuilder();
        for (int i = 1; i < value.length() - 1; i++) {
            boolean escape = value.charAt(i) == '\\' && i + 5 < value.length();
            text.append(escape ? (char) Integer.parseInt(value.substring(i + 2, i + 6), 16) : value.charAt(i));
            if (escape) i += 5;
        }
        return text.toString();
    }

    /** Short values in full, long ones by length and SHA-256. */
    public static String value(byte[] bytes) {
        if (bytes.length <= LONG_VALUE) return "hex:" + hex(bytes);
        try {
            return "len=" + bytes.length + " sha256=" + hex(MessageDigest.getInstance("SHA-256").digest(bytes));
        } catch (NoSuchAlgorithmException e) {
            throw new IllegalStateException(e);
        }
    }

    public static String error(long code) {
        return "error " + hex(code);
    }
}
