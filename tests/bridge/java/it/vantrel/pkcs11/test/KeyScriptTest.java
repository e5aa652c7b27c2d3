package it.vantrel.pkcs11.test;

import static it.vantrel.pkcs11.test.SessionScript.ARGUMENTS_BAD;
import static it.vantrel.pkcs11.test.SessionScript.assertCode;
import static it.vantrel.pkcs11.test.SessionScript.counting;
import static it.vantrel.pkcs11.test.SessionScript.hex;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertTrue;

import it.vantrel.pkcs11.PKCS11Exception;
import it.vantrel.pkcs11.nat.NativePKCS11Object;
import it.vantrel.pkcs11.nat.NativePKCS11Session;

import java.util.GregorianCalendar;
import java.util.List;

import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.function.Executable;

/** Secret-key generation and unwrapping with templates against the scriptable module. */
class KeyScriptTest extends SessionSuite {
    private static final String AES_GEN = "C_GenerateKey session=7 mechanism=0x1080 parameter=null parameterLen=0 ";
    private static final int[] CLASS_AND_LENGTH = {0x0, 0x161};

    /** One CK_ULONG of this platform (linux64) in host order. */
    private static String ulong(int value) {
        return String.format("%02x%02x%02x%02x00000000", value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF,
                (value >>> 24));
    }

    @Test
    void generateKeyPassesTheTemplateAndBindsTheNewKeyToTheReceiver() throws PKCS11Exception {
        NativePKCS11Session session = bind("key.generated 0x80000001");
        // Values past the type array's length are never looked at, not even a bad one.
        NativePKCS11Object key = session.generateKey(0x1080, "unread", CLASS_AND_LENGTH,
                new Object[] {4, 32, Long.valueOf(1), null});
        assertEquals(0x80000001, key.getObjectID());
        assertSame(session, key.getSession());
        assertEquals(List.of(AES_GEN + "template=[0x0=" + ulong(4) + " 0x161=" + ulong(32) + "] count=2"),
                ScriptModule.calls());
    }

    @Test
    void emptyTemplateAndDateValues() throws PKCS11Exception {
        NativePKCS11Session session = bind();
        assertEquals(10, session.generateKey(0x1080, null, new int[0], new Object[0]).getObjectID());
        session.generateKey(0x1080, null, new int[] {0x110}, new Object[] {new GregorianCalendar(2004, 4, 7).getTime()});
        assertEquals(List.of(AES_GEN + "template=[] count=0", AES_GEN + "template=[0x110=3230303430353037] count=1"),
                ScriptModule.calls());
    }

    @Test
    void unconvertibleValuesEndTheCallQuietly() throws PKCS11Exception {
        NativePKCS11Session session = bind();
        assertNull(session.generateKey(0x1080, null, CLASS_AND_LENGTH, new Object[] {4, 32L}));
        assertNull(session.generateKey(0x1080, null, CLASS_AND_LENGTH, new Object[] {null, 4}));
        assertNull(session.unwrapKey(0x2109, null, script.key(3), new byte[8], 0, 8, CLASS_AND_LENGTH,
                new Object[] {4, new Object()}));
        assertEquals(List.of(), ScriptModule.calls());
    }

    @Test
    void moduleErrorsAreThrownWithoutPeer() throws PKCS11Exception {
        NativePKCS11Session session = bind("rv.C_GenerateKey 0xD1", "rv.C_UnwrapKey 0x80000004");
        assertCode(0xD1, () -> session.generateKey(0x1080, null, CLASS_AND_LENGTH, new Object[] {4, 32}));
        SessionScript.assertMessage("Internal error", () -> session.unwrapKey(0x2109, null, script.key(3),
                new byte[8], 0, 8, new int[0], new Object[0]));
        assertEquals(2, ScriptModule.calls().size());
    }

    @Test
    void unwrapKeyReadsOnlyTheGivenLengthFromTheStart() throws PKCS11Exception {
        NativePKCS11Session session = bind();
        byte[] wrapped = counting(100);
        NativePKCS11Object key = session.unwrapKey(0x2109, "unread", script.key(3), wrapped, 60, 24,
                new int[] {0x0}, new Object[] {4, "ignored"});
        assertEquals(11, key.getObjectID());
        assertSame(session, key.getSession());
        assertEquals(List.of("C_UnwrapKey session=7 mechanism=0x2109 parameter=null parameterLen=0 unwrappingKey=3 "
                + "wrapped=" + hex(wrapped, 24) + " wrappedLen=24 template=[0x0=" + ulong(4) + "] count=1"),
                ScriptModule.calls());
    }

    @Test
    void arraysThatDoNotFitAreRefusedBeforeTheModule() throws PKCS11Exception {
        NativePKCS11Session session = bind();
        NativePKCS11Object k = script.key(3);
        byte[] wrapped = new byte[8];
        List<Executable> refused = List.of(
                () -> session.generateKey(0x1080, null, CLASS_AND_LENGTH, new Object[] {4}),
                () -> session.generateKey(0x1080, null, null, new Object[] {4}),
                () -> session.generateKey(0x1080, null, CLASS_AND_LENGTH, null),
                () -> session.unwrapKey(0x2109, null, k, wrapped, 0, 9, new int[0], new Object[0]),
                () -> session.unwrapKey(0x2109, null, k, wrapped, 0, -1, new int[0], new Object[0]),
                () -> session.unwrapKey(0x2109, null, k, null, 0, 0, new int[0], new Object[0]),
                () -> session.unwrapKey(0x2109, null, k, wrapped, 0, 8, CLASS_AND_LENGTH, new Object[1]),
                () -> session.unwrapKey(0x2109, null, k, wrapped, 0, 8, null, null));
        for (Executable call : refused) {
            assertCode(ARGUMENTS_BAD, call);
        }
        assertEquals(List.of(), ScriptModule.calls());
    }

    @Test
    void generateKeyTracesEachStep() {
        ScriptModule.script("");
        BridgeProcess run =
                BridgeProcess.runDriver(SessionScenarios.class, "1", "genkey", "genkey", "genkeybad", "genkeyhuge");
        String start = "JNI: start PKCS11Session.genKey...\nJNI: session OK\nJNI: mechanism OK\nJNI: ckLen OK\n"
                + "JNI: ckAttr OK\nJNI: attrA OK\nJNI: inside loop\nJNI: temp1 OK\nJNI: res?...... OK\n"
                + "JNI: inside loop\nJNI: temp1 OK\nJNI: res?...";
        String expected = start + "... OK\nJNI: array OK\n(session= 7)\nJNI:BRIDGE: Calling C_GenerateKey ... Done\n"
                + "JNI: creating 2 jobject PKCS11Object..."
                + start + "... KO\n\nERROR: cannot parse passed object 1\n";
        // A template the bridge will not allocate: the step line comes before the refusal.
        String refused = "JNI: ckLen OK\nJNI: ckAttr OK\n"
                + "JNI: Throwing vendor defined exc 'Internal error: Out of memory'... Done\n";
        assertTrue(run.stdout.contains(expected) && run.stdout.contains(refused), run.stdout);
        assertTrue(run.stderr.contains("genkey -> 10") && run.stderr.contains("genkeybad -> null")
                && run.stderr.contains("genkeyhuge -> exception Internal error: Out of memory"), run.stderr);
    }
}
