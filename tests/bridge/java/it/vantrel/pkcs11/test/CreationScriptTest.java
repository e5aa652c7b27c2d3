package it.vantrel.pkcs11.test;

import static it.vantrel.pkcs11.test.ObjectScriptTest.ulong;
import static it.vantrel.pkcs11.test.SessionScript.assertCode;
import static it.vantrel.pkcs11.test.SessionScript.assertMessage;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertSame;

import it.vantrel.pkcs11.PKCS11Exception;
import it.vantrel.pkcs11.nat.NativePKCS11Object;
import it.vantrel.pkcs11.nat.NativePKCS11Session;

import java.math.BigInteger;
import java.util.List;

import org.junit.jupiter.api.Test;

/** Object search, creation, certificate install and key pairs against the scriptable module. */
class CreationScriptTest extends SessionSuite {
    private static void assertPeer(NativePKCS11Session session, int handle, Object peer) {
        NativePKCS11Object object = (NativePKCS11Object) peer;
        assertEquals(handle, object.getObjectID());
        assertSame(session, object.getSession());
    }

    @Test
    void searchHandsOutOneObjectPerCallThenNullForGood() throws PKCS11Exception {
        NativePKCS11Session session = bind("find.handles 4 9");
        session.findObjectsInit(new int[] {0x3, 0x0}, new Object[] {"key", 3});
        assertPeer(session, 4, session.findObject());
        assertPeer(session, 9, session.findObject());
        assertNull(session.findObject());
        assertNull(session.findObject());
        session.findObjectsFinal();
        String next = "C_FindObjects session=7 max=1";
        assertEquals(List.of("C_FindObjectsInit session=7 template=[0x3=6b6579 0x0=" + ulong(3) + "] count=2", next,
                next, next, next, "C_FindObjectsFinal session=7"), ScriptModule.calls());
    }

    @Test
    void searchWithoutTemplate() throws PKCS11Exception {
        NativePKCS11Session session = bind();
        session.findObjectsInit(null, null);
        session.findObjectsInit(new int[0], new Object[0]);
        assertEquals(List.of("C_FindObjectsInit session=7 template=null count=0",
                "C_FindObjectsInit session=7 template=[] count=0"), ScriptModule.calls());
        // One array without the other is no search at all.
        assertMessage("Internal error (Null parameter)", () -> session.findObjectsInit(new int[0], null));
        assertMessage("Internal error (Null parameter)", () -> session.findObjectsInit(null, new Object[0]));
        assertMessage("Different array length", () -> session.findObjectsInit(new int[1], new Object[0]));
        session.findObjectsInit(new int[] {0x3}, new Object[] {5L});
        assertEquals(2, ScriptModule.calls().size());
    }

    @Test
    void searchFailuresAreTheModulesCodes() throws PKCS11Exception {
        NativePKCS11Session session = bind("rv.C_FindObjects 0x91", "rv.C_FindObjectsInit 0x90",
                "rv.C_FindObjectsFinal 0x91");
        assertCode(0x91, () -> assertNull(session.findObject()));
        assertCode(0x90, () -> session.findObjectsInit(null, null));
        assertCode(0x91, session::findObjectsFinal);
        // Asked for one, a module claiming more is not believed.
        ScriptModule.script("find.handles 4", "find.claim 2");
        assertMessage("Internal error", () -> assertNull(session.findObject()));
    }

    @Test
    void createObjectHandsBackThePeerOfTheNewObject() throws PKCS11Exception {
        NativePKCS11Session session = bind("object.created 77");
        NativePKCS11Object created = session.createObject(new int[] {0x0, 0x3, 0x11, 0x1},
                new Object[] {0, "data", new byte[] {(byte) 0xAB}, false});
        assertPeer(session, 77, created);
        assertEquals(List.of("C_CreateObject session=7 template=[0x0=" + ulong(0)
                + " 0x3=64617461 0x11=ab 0x1=00] count=4"), ScriptModule.calls());
    }

    @Test
    void createObjectRefusals() throws PKCS11Exception {
        NativePKCS11Session session = bind("rv.C_CreateObject 0xD1");
        assertNull(session.createObject(new int[] {0x3, 0x0}, new Object[] {"x", new StringBuilder("y")}));
        assertMessage("Different array length", () -> session.createObject(new int[1], new Object[2]));
        assertMessage("Internal error (Null parameter)", () -> session.createObject(null, new Object[0]));
        assertEquals(List.of(), ScriptModule.calls());
        assertCode(0xD1, () -> assertNull(session.createObject(new int[] {0x3}, new Object[] {"x"})));
    }

    private static final byte[] CERTIFICATE = {0x30, (byte) 0x82, 0x01, 0x0A, 0x02, 0x01};

    @Test
    void installCertificateFillsItsFixedTemplate() throws PKCS11Exception {
        NativePKCS11Session session = bind("object.created 41", "find.handles 41");
        session.installCertificate(0x11223344, 0, CERTIFICATE, 0, 0, "CN=Subject", "0A1B", "CN=Issuer", "");
        session.findObjectsInit(new int[] {0x0, 0x80}, new Object[] {1, 0});
        assertPeer(session, 41, session.findObject());
        assertEquals("C_CreateObject session=7 template=[0x0=" + ulong(1) + " 0x80=" + ulong(0) + " 0x80002000="
                + ulong(0x11223344) + " 0x11=3082010a0201 0x3= 0x101=" + ScriptModule.hex("CN=Subject") + " 0x82="
                + ScriptModule.hex("0A1B") + " 0x81=" + ScriptModule.hex("CN=Issuer") + "] count=8",
                ScriptModule.calls().get(0));
        // The vendor value keeps its 32 bits when it looks negative to Java.
        ScriptModule.clearCalls();
        session.installCertificate(-1, 0, new byte[0], 0, 0, "s", "n", "i", "label");
        assertEquals("C_CreateObject session=7 template=[0x0=" + ulong(1) + " 0x80=" + ulong(0) + " 0x80002000="
                + ulong(0xFFFFFFFFL) + " 0x11= 0x3=6c6162656c 0x101=73 0x82=6e 0x81=69] count=8",
                ScriptModule.calls().get(0));
    }

    @Test
    void installCertificateRefusals() throws PKCS11Exception {
        NativePKCS11Session session = bind("rv.C_CreateObject 0x12");
        assertCode(0x12, () -> session.installCertificate(1, 0, CERTIFICATE, 0, 0, "s", "n", "i", "l"));
        ScriptModule.clearCalls();
        assertMessage("Internal error (Null parameter)",
                () -> session.installCertificate(1, 0, null, 0, 0, "s", "n", "i", "l"));
        assertMessage("Internal error (Null parameter)",
                () -> session.installCertificate(1, 0, CERTIFICATE, 0, 0, "s", null, "i", "l"));
        assertEquals(List.of(), ScriptModule.calls());
    }

    private static final String PUBLIC_IDENTITY = "0x121=" + ulong(1024) + " 0x122=010001 0x1=01 0x3=4964656e74697479";

    @Test
    void fixedKeyPairsAskForTheirTemplatesByteForByte() throws PKCS11Exception {
        NativePKCS11Session session = bind("keypair.public 12", "keypair.private 13");
        Object[] identity = session.generateKeyPairOB(0, true);
        Object[] utility = session.generateKeyPairOB(0, false);
        assertEquals(2, identity.length);
        assertPeer(session, 12, identity[0]);
        assertPeer(session, 13, identity[1]);
        assertPeer(session, 12, utility[0]);
        assertPeer(session, 13, utility[1]);
        String mechanism = "C_GenerateKeyPair session=7 mechanism=0x0 parameter=null parameterLen=0";
        // Full labels: "Identity" (8 bytes) and "Utility" (7 bytes).
        assertEquals(List.of(
                mechanism + " public template=[" + PUBLIC_IDENTITY + "] count=4"
                        + " private template=[0x1=01 0x108=01 0x109=01 0x80006002=01] count=4",
                mechanism + " public template=[0x121=" + ulong(1024) + " 0x122=010001 0x1=01 0x3=5574696c697479]"
                        + " count=4 private template=[0x1=01 0x108=01 0x109=01 0x80006001=01] count=4"),
                ScriptModule.calls());
        ScriptModule.append("rv.C_GenerateKeyPair 0x70");
        assertCode(0x70, () -> assertNull(session.generateKeyPairOB(0, true)));
    }

    @Test
    void keyPairFromJavaTemplates() throws PKCS11Exception {
        NativePKCS11Session session = bind();
        Object[] pair = session.generateKeyPair(0, null, new int[] {0x121, 0x122, 0x3},
                new Object[] {2048, BigInteger.valueOf(65537), "pub"}, new int[] {0x108, 0x102},
                new Object[] {true, new byte[] {7}});
        assertPeer(session, 30, pair[0]);
        assertPeer(session, 31, pair[1]);
        assertEquals(List.of("C_GenerateKeyPair session=7 mechanism=0x0 parameter=null parameterLen=0 public template=[0x121="
                + ulong(2048) + " 0x122=010001 0x3=707562] count=3 private template=[0x108=01 0x102=07] count=2"),
                ScriptModule.calls());
    }

    @Test
    void keyPairRefusals() throws PKCS11Exception {
        NativePKCS11Session session = bind("rv.C_GenerateKeyPair 0x130");
        int[] two = {0x1, 0x2};
        assertMessage("Different array length for PublicKey",
                () -> session.generateKeyPair(0, null, two, new Object[3], null, null));
        assertMessage("Different array length for PrivateKey",
                () -> session.generateKeyPair(0, null, two, new Object[] {true, true}, two, new Object[1]));
        assertMessage("Internal error (Null parameter)",
                () -> session.generateKeyPair(0, null, two, new Object[] {true, true}, null, new Object[0]));
        // An unsupported value on either side: null, nothing raised, the module not called.
        assertNull(session.generateKeyPair(0, null, two, new Object[] {true, true}, two, new Object[] {true, 1.5}));
        assertNull(session.generateKeyPair(0, null, two, new Object[] {null, true}, two, new Object[] {true, true}));
        assertEquals(List.of(), ScriptModule.calls());
        assertCode(0x130, () -> session.generateKeyPair(0, null, new int[0], new Object[0], new int[0], new Object[0]));
    }
}
