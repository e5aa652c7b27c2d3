package it.vantrel.pkcs11.test;

import static it.vantrel.pkcs11.test.SessionScript.ARGUMENTS_BAD;
import static it.vantrel.pkcs11.test.SessionScript.assertCode;
import static it.vantrel.pkcs11.test.SessionScript.assertMessage;
import static it.vantrel.pkcs11.test.SessionScript.counting;
import static it.vantrel.pkcs11.test.SessionScript.filled;
import static it.vantrel.pkcs11.test.SessionScript.hex;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import it.vantrel.pkcs11.PKCS11Exception;
import it.vantrel.pkcs11.nat.NativePKCS11Object;
import it.vantrel.pkcs11.nat.NativePKCS11Session;
import it.vantrel.pkcs11.nat.NativePKCS11Slot;

import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.function.Executable;

/** Signing, encryption, decryption and key wrapping against the scriptable module. */
class CryptoScriptTest extends SessionSuite {
    /** sign and decrypt share their shape: data, unread word, length, output or null, unread word. */
    private interface OneShot {
        int call(NativePKCS11Session session, byte[] data, int unread, int length, byte[] out, int unread2)
                throws PKCS11Exception;
    }

    private static Map<String, OneShot> queryingOperations() {
        Map<String, OneShot> operations = new LinkedHashMap<>();
        operations.put("C_Sign", NativePKCS11Session::sign);
        operations.put("C_Decrypt", NativePKCS11Session::decrypt);
        return operations;
    }

    @Test
    void initialisationsPassTheTypeWithoutParameterOnTheReceiversSession() throws PKCS11Exception {
        NativePKCS11Session session = bind();
        // The key belongs to another session: only its handle counts.
        NativePKCS11Session other = new NativePKCS11Session(new NativePKCS11Slot(script.module, 3), 99);
        NativePKCS11Object key = new NativePKCS11Object(other, 42);
        session.signInit(0x40, new byte[] {1, 2, 3}, key);
        session.encryptInit(0x1081, "ignored", key);
        session.decryptInit(-1, null, key);
        assertEquals(List.of("C_SignInit session=7 mechanism=0x40 parameter=null parameterLen=0 key=42",
                "C_EncryptInit session=7 mechanism=0x1081 parameter=null parameterLen=0 key=42",
                "C_DecryptInit session=7 mechanism=0xffffffff parameter=null parameterLen=0 key=42"),
                ScriptModule.calls());
    }

    @Test
    void initialisationErrorsAreThrown() throws PKCS11Exception {
        NativePKCS11Session session = bind("rv.C_SignInit 0x70", "rv.C_EncryptInit 0x80000010");
        assertCode(0x70, () -> session.signInit(0x40, null, script.key(1)));
        assertMessage("Internal error", () -> session.encryptInit(0x40, null, script.key(1)));
        assertMessage("Internal error (Null parameter)", () -> session.decryptInit(0x40, null, null));
        assertEquals(2, ScriptModule.calls().size());
    }

    @Test
    void nullOrEmptyOutputAsksForTheLength() throws PKCS11Exception {
        for (Map.Entry<String, OneShot> operation : queryingOperations().entrySet()) {
            NativePKCS11Session session = bind("out." + operation.getKey() + " 0102030405");
            byte[] data = counting(100);
            assertEquals(5, operation.getValue().call(session, data, 77, 20, null, 3));
            assertEquals(5, operation.getValue().call(session, data, -8, 20, new byte[0], 0));
            String input = "data=" + hex(data, 20) + " dataLen=20";
            assertEquals(List.of(operation.getKey() + " session=7 " + input + " out=null outLen=0",
                    operation.getKey() + " session=7 " + input + " out=null outLen=0"), ScriptModule.calls());
            script.release();
        }
    }

    @Test
    void outputLongerThanNeededKeepsItsTail() throws PKCS11Exception {
        for (Map.Entry<String, OneShot> operation : queryingOperations().entrySet()) {
            NativePKCS11Session session = bind("out." + operation.getKey() + " 0a0b0c");
            byte[] out = filled(8, 0x55);
            assertEquals(3, operation.getValue().call(session, counting(4), 0, 4, out, 0));
            assertArrayEquals(new byte[] {10, 11, 12, 0x55, 0x55, 0x55, 0x55, 0x55}, out);
            assertEquals(List.of(operation.getKey() + " session=7 data=00010203 dataLen=4 out=set outLen=8"),
                    ScriptModule.calls());
            script.release();
        }
    }

    @Test
    void shortOutputGivesTheModulesBufferTooSmall() throws PKCS11Exception {
        for (Map.Entry<String, OneShot> operation : queryingOperations().entrySet()) {
            NativePKCS11Session session = bind("out." + operation.getKey() + " 0a0b0c");
            byte[] out = filled(2, 0x55);
            assertCode(0x150, () -> operation.getValue().call(session, counting(4), 0, 4, out, 0));
            assertArrayEquals(filled(2, 0x55), out);
            script.release();
        }
    }

    @Test
    void encryptOffersTheInputLengthAsCapacity() throws PKCS11Exception {
        NativePKCS11Session session = bind("out.C_Encrypt 1122");
        byte[] out = filled(16, 0x55);
        assertEquals(2, session.encrypt(counting(16), 9, 3, out, 9));
        assertEquals((byte) 0x11, out[0]);
        assertEquals((byte) 0x55, out[2]);
        assertEquals(List.of("C_Encrypt session=7 data=000102 dataLen=3 out=set outLen=3"), ScriptModule.calls());
        // A mechanism producing more than it consumes meets the input length as its room.
        ScriptModule.script("out.C_Encrypt 11223344");
        assertCode(0x150, () -> session.encrypt(counting(16), 0, 3, new byte[256], 0));
    }

    @Test
    void moduleErrorsAreThrown() throws PKCS11Exception {
        NativePKCS11Session session = bind("rv.C_Sign 0x91", "rv.C_Decrypt 0x80000010", "rv.C_Encrypt 0x21");
        assertCode(0x91, () -> session.sign(counting(4), 0, 4, new byte[4], 0));
        assertMessage("Internal error", () -> session.decrypt(counting(4), 0, 4, new byte[4], 0));
        assertCode(0x21, () -> session.encrypt(counting(4), 0, 4, new byte[4], 0));
    }

    @Test
    void aModuleClaimingMoreThanItsRoomIsNotBelieved() throws PKCS11Exception {
        NativePKCS11Session session = bind("out.C_Sign 01", "claim.C_Sign 100", "out.C_WrapKey 01",
                "claim.C_WrapKey 0xFFFFFFFF", "out.C_Decrypt 01", "claim.C_Decrypt 0x80000000");
        // A failed call hands the output array what the module wrote; the rest keeps its former contents.
        byte[] signature = filled(8, 0x55);
        assertMessage("Internal error", () -> session.sign(counting(4), 0, 4, signature, 0));
        assertEquals("01555555" + "55555555", hex(signature, 8));
        byte[] wrapped = filled(8, 0x55);
        assertMessage("Internal error", () -> session.wrapKey(0x2109, null, script.key(1), script.key(2), wrapped, 0));
        assertEquals("01555555" + "55555555", hex(wrapped, 8));
        byte[] decrypted = filled(600, 0x55);
        assertMessage("Internal error", () -> session.decrypt(counting(4), 0, 4, decrypted, 0));
        byte[] expected = filled(600, 0x55);
        expected[0] = 1;
        assertArrayEquals(expected, decrypted);
    }

    @Test
    void aModuleClaimingMoreThanItWroteHandsOverFormerContents() throws PKCS11Exception {
        NativePKCS11Session session = bind("out.C_Sign 01", "claim.C_Sign 6", "out.C_Decrypt 02",
                "claim.C_Decrypt 590");
        byte[] signature = filled(8, 0x55);
        assertEquals(6, session.sign(counting(4), 0, 4, signature, 0));
        assertEquals("015555555555" + "5555", hex(signature, 8));
        byte[] decrypted = filled(600, 0x55);
        assertEquals(590, session.decrypt(counting(4), 0, 4, decrypted, 0));
        byte[] expected = filled(600, 0x55);
        expected[0] = 2;
        assertArrayEquals(expected, decrypted);
    }

    @Test
    void oneArrayAsInputAndOutputReachesTheModuleAsTwoBuffers() throws PKCS11Exception {
        NativePKCS11Session session = bind("out.C_Encrypt 1122", "out.C_Decrypt 3344");
        byte[] both = counting(8);
        assertEquals(2, session.encrypt(both, 0, 4, both, 0));
        assertEquals("1122020304050607", hex(both, 8));
        assertEquals(2, session.decrypt(both, 0, 4, both, 0));
        assertEquals("3344020304050607", hex(both, 8));
        assertEquals(List.of("C_Encrypt session=7 data=00010203 dataLen=4 out=set outLen=4",
                "C_Decrypt session=7 data=11220203 dataLen=4 out=set outLen=8"), ScriptModule.calls());
    }

    @Test
    void wrapKeyGivesTheArrayLengthAndKeepsTheTail() throws PKCS11Exception {
        NativePKCS11Session session = bind("out.C_WrapKey 0102030405060708");
        byte[] out = filled(12, 0x55);
        assertEquals(8, session.wrapKey(0x2109, "unread", script.key(3), script.key(4), out, 5));
        assertEquals("0102030405060708" + "55555555", hex(out, 12));
        assertEquals(List.of("C_WrapKey session=7 mechanism=0x2109 parameter=null parameterLen=0 wrappingKey=3 "
                + "key=4 out=set outLen=12"), ScriptModule.calls());
        assertCode(0x150, () -> session.wrapKey(0x2109, null, script.key(3), script.key(4), new byte[7], 0));
    }

    @Test
    void lengthsBeyondTheArraysNeverReachTheModule() throws PKCS11Exception {
        NativePKCS11Session session = bind();
        byte[] data = new byte[8];
        List<Executable> refused = List.of(
                () -> session.sign(data, 0, -1, null, 0),
                () -> session.sign(data, 0, 9, new byte[8], 0),
                () -> session.sign(null, 0, 0, new byte[8], 0),
                () -> session.decrypt(data, 0, Integer.MIN_VALUE, null, 0),
                () -> session.decrypt(data, 0, Integer.MAX_VALUE, new byte[8], 0),
                () -> session.decrypt(null, 0, 4, new byte[8], 0),
                () -> session.encrypt(data, 0, 8, new byte[7], 0),
                () -> session.encrypt(data, 0, 8, null, 0),
                () -> session.encrypt(data, 0, 9, new byte[64], 0),
                () -> session.encrypt(data, 0, -3, new byte[64], 0),
                () -> session.wrapKey(0x2109, null, script.key(3), script.key(4), null, 0));
        for (Executable call : refused) {
            assertCode(ARGUMENTS_BAD, call);
        }
        assertEquals(List.of(), ScriptModule.calls());
        // The whole array is a valid range, an empty one too.
        session.sign(data, 0, 8, null, 0);
        ScriptModule.append("out.C_Encrypt ");
        assertEquals(0, session.encrypt(new byte[0], 0, 0, new byte[0], 0));
        assertEquals(2, ScriptModule.calls().size());
    }

    @Test
    void refusedOperationsTouchNothing() throws PKCS11Exception {
        NativePKCS11Session session = bind();
        byte[] b = new byte[4];
        NativePKCS11Object k = script.key(1);
        assertMessage("Not supported YET", () -> session.signUpdate(b, 0, 4));
        assertMessage("Not supported YET", () -> session.signFinal(b, 0));
        List<Executable> notSupported = List.of(
                () -> session.encryptUpdate(b, 0, 4, b, 0), () -> session.encryptFinal(b, 0),
                () -> session.decryptUpdate(b, 0, 4, b, 0), () -> session.decryptFinal(b, 0),
                () -> session.digestInit(0x250, null), () -> session.digest(b, 0, 4, b, 0),
                () -> session.digestUpdate(b, 0, 4), () -> session.digestKey(k), () -> session.digestFinal(b, 0),
                () -> session.signRecoverInit(1, null, k), () -> session.signRecover(b, 0, 4, b, 0),
                () -> session.verifyInit(1, null, k), () -> session.verify(b, 0, 4, b, 0, 4),
                () -> session.verifyUpdate(b, 0, 4), () -> session.verifyFinal(b, 0, 4),
                () -> session.verifyRecoverInit(1, null, k), () -> session.verifyRecover(b, 0, 4, b, 0),
                () -> session.digestEncryptUpdate(b, 0, 4, b, 0), () -> session.decryptDigestUpdate(b, 0, 4, b, 0),
                () -> session.signEncryptUpdate(b, 0, 4, b, 0), () -> session.decryptVerifyUpdate(b, 0, 4, b, 0),
                () -> session.deriveKey(1, null, k, new int[0], new Object[0]), () -> session.seedRandom(b, 0, 4),
                () -> session.generateRandom(b, 0, 4), session::getFunctionStatus, session::cancelFunction);
        for (Executable call : notSupported) {
            assertMessage("Not supported", call);
        }
        assertEquals(List.of(), ScriptModule.calls());
    }

    @Test
    void beforeInitialiseEverythingIsAnInternalError() throws PKCS11Exception {
        NativePKCS11Session session = bind();
        script.module.libFinalize();
        assertMessage("Internal error", () -> session.signInit(0x40, null, script.key(1)));
        assertMessage("Internal error", () -> session.sign(counting(4), 0, 4, null, 0));
        assertMessage("Internal error", () -> session.encrypt(counting(4), 0, 4, new byte[4], 0));
        assertMessage("Internal error",
                () -> session.wrapKey(0x2109, null, script.key(1), script.key(2), new byte[4], 0));
        script = null;
    }

    @Test
    void tracesOfTheOperations() {
        ScriptModule.script("");
        BridgeProcess run = BridgeProcess.runDriver(SessionScenarios.class, "1", "crypto", "sign", "wrap", "unwrap",
                "digest", "badlength");
        assertTrue(run.stdout.contains("JNI: start PKCS11Session.signInit... (session= 7)\n"
                + "JNI:BRIDGE: Calling C_SignInit ... Done\n"
                + "JNI: start PKCS11Session.sign... (session= 7)\n"
                + "JNI:BRIDGE: Calling C_Sign ... Done(out=4)\n"
                // The key to wrap is read before the wrapping key.
                + "JNI: start PKCS11Session.wrapKey... JNI: session OK\nJNI: key OK\nJNI: wrappingKey OK\n"
                + "JNI: mechanism OK\n(session= 7)\nJNI:BRIDGE: Calling C_WrapKey ... Done(out=4)\n"
                + "JNI: wrapOK OK\nJNI: release OK\n"
                + "JNI: start PKCS11Session.unwrapKey... (session= 7)\n"
                + "JNI:BRIDGE: Calling C_UnwrapKey ...JNI: creating PKCS11Object (11)...OK\n"
                // Refused natives print no start text.
                + "JNI: Throwing vendor defined exc 'Not supported'... Done\n"
                + "JNI: start PKCS11Session.encrypt... JNI: Throwing exc number 7... Done\n"), run.stdout);
        assertTrue(run.stderr.contains("sign -> 4\nwrap -> 4\nunwrap -> 11\ndigest -> exception Not supported\n"
                + "badlength -> exception 0x7"), run.stderr);
    }
}
