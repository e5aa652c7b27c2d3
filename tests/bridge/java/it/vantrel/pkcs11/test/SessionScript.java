package it.vantrel.pkcs11.test;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import it.vantrel.pkcs11.PKCS11Exception;
import it.vantrel.pkcs11.nat.NativePKCS11;
import it.vantrel.pkcs11.nat.NativePKCS11Object;
import it.vantrel.pkcs11.nat.NativePKCS11Session;
import it.vantrel.pkcs11.nat.NativePKCS11Slot;

import org.junit.jupiter.api.function.Executable;

/** A session peer on the scriptable module, and the checks the session suites share. */
final class SessionScript {
    static final int SESSION = 7;
    static final int ARGUMENTS_BAD = 7;

    final NativePKCS11 module = new NativePKCS11();
    final NativePKCS11Session session = new NativePKCS11Session(new NativePKCS11Slot(module, 0), SESSION);

    /** Binds and initialises the scriptable module with the given script; the record starts empty. */
    SessionScript(String... script) throws PKCS11Exception {
        ScriptModule.script(script);
        assertNotEquals(0L, module.loadPKCS11Library(ScriptModule.path()));
        module.libInitialize();
        ScriptModule.clearCalls();
    }

    void release() {
        try {
            module.libFinalize();
        } catch (PKCS11Exception e) {
            throw new IllegalStateException(e);
        }
    }

    NativePKCS11Object key(int handle) {
        return new NativePKCS11Object(session, handle);
    }

    static void assertMessage(String message, Executable call) {
        PKCS11Exception e = assertThrows(PKCS11Exception.class, call);
        assertFalse(e.hasErrorCode(), "expected a message, got code " + e.getErrorCode());
        assertEquals(message, e.getMessage());
    }

    static void assertCode(int code, Executable call) {
        PKCS11Exception e = assertThrows(PKCS11Exception.class, call);
        assertTrue(e.hasErrorCode(), "expected a code, got " + e.getMessage());
        assertEquals(code, e.getErrorCode());
    }

    static byte[] filled(int length, int value) {
        byte[] bytes = new byte[length];
        java.util.Arrays.fill(bytes, (byte) value);
        return bytes;
    }

    static byte[] counting(int length) {
        byte[] bytes = new byte[length];
        for (int i = 0; i < length; i++) {
            bytes[i] = (byte) i;
        }
        return bytes;
    }

    static String hex(byte[] bytes, int length) {
        StringBuilder out = new StringBuilder();
        for (int i = 0; i < length; i++) {
            out.append(String.format("%02x", bytes[i] & 0xFF));
        }
        return out.toString();
    }
}
