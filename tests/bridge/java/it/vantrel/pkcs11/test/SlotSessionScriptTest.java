package it.vantrel.pkcs11.test;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import it.vantrel.pkcs11.PKCS11Exception;
import it.vantrel.pkcs11.PKCS11SessionInfo;
import it.vantrel.pkcs11.PKCS11TokenInfo;
import it.vantrel.pkcs11.nat.NativePKCS11;
import it.vantrel.pkcs11.nat.NativePKCS11Object;
import it.vantrel.pkcs11.nat.NativePKCS11Session;
import it.vantrel.pkcs11.nat.NativePKCS11Slot;

import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;

import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.function.Executable;

/** Slot, session and RSA credential natives against the scriptable module: exact arguments. */
class SlotSessionScriptTest {
    private final NativePKCS11 module = new NativePKCS11();

    @AfterEach
    void release() throws PKCS11Exception {
        module.libFinalize();
    }

    private void bind(String modulePath, String... script) throws PKCS11Exception {
        ScriptModule.script(script);
        module.loadPKCS11Library(modulePath);
        module.libInitialize();
        ScriptModule.clearCalls();
    }

    private NativePKCS11Session session(int handle) {
        return new NativePKCS11Session(new NativePKCS11Slot(module, 1), handle);
    }

    private static void assertMessage(String message, Executable call) {
        PKCS11Exception e = assertThrows(PKCS11Exception.class, call);
        assertFalse(e.hasErrorCode());
        assertEquals(message, e.getMessage());
    }

    private static PKCS11Exception assertCode(int code, boolean vendor, Executable call) {
        PKCS11Exception e = assertThrows(PKCS11Exception.class, call);
        assertTrue(e.hasErrorCode(), e.getMessage());
        assertEquals(code, e.getErrorCode());
        assertEquals(vendor, e.isVendorDefined());
        return e;
    }

    @Test
    void highSlotIdsReachTheModuleUnchanged() throws PKCS11Exception {
        bind(ScriptModule.path(), "slots 2147483653");
        NativePKCS11Slot slot = module.getSlotList(false)[0];
        assertTrue(slot.getSlotID() < 0);
        slot.getInfo();
        slot.getMechanismInfo(-1);
        assertEquals(List.of("C_GetSlotList tokenPresent=0 list=null count=0",
                "C_GetSlotList tokenPresent=0 list=set count=1", "C_GetSlotInfo slot=2147483653",
                "C_GetMechanismInfo slot=2147483653 type=4294967295"), ScriptModule.calls());
    }

    @Test
    void tokenTextsAndMechanisms() throws PKCS11Exception {
        bind(ScriptModule.path(), "token.serialNumber 1234", "token.counters 1 2 3 4 5 6 7 8 9 4294967295",
                "mechanisms ", "token.utcTime 2026120812000000");
        NativePKCS11Slot slot = new NativePKCS11Slot(module, 3);
        assertEquals("1234" + " ".repeat(12), slot.getTokenSN());
        PKCS11TokenInfo token = slot.getTokenInfo();
        assertEquals(5, token.ulMaxPinLen);
        assertEquals(-1, token.ulFreePrivateMemory);
        assertEquals("2026120812000000", token.utcTime);
        assertArrayEquals(new int[0], slot.getMechanismList());
        ScriptModule.append("mechanisms 0x80000001 6 0");
        assertArrayEquals(new int[] {0x80000001, 6, 0}, slot.getMechanismList());
        ScriptModule.script("rv.C_GetTokenInfo 0xE0");
        assertCode(0xE0, false, slot::getTokenInfo);
        assertCode(0xE0, false, slot::getTokenSN);
        assertMessage("Not supported", () -> slot.initToken("1234", "label"));
        assertFalse(ScriptModule.calls().stream().anyMatch(c -> c.startsWith("C_InitToken")));
    }

    @Test
    void threadsNeverMeetInsideTheModule() throws Exception {
        // The module ends the process when a second thread comes in while one is inside.
        bind(ScriptModule.path(), "session 5", "slots 1 2");
        ExecutorService pool = Executors.newFixedThreadPool(8);
        List<Future<Integer>> runs = new ArrayList<>();
        for (int t = 0; t < 8; t++) {
            runs.add(pool.submit(() -> {
                int rounds = 0;
                for (int i = 0; i < 50; i++) {
                    NativePKCS11Slot slot = module.getSlotList(true)[i % 2];
                    slot.getTokenInfo();
                    NativePKCS11Session opened = slot.openSession(6, null, null);
                    opened.getInfo();
                    opened.close();
                    rounds++;
                }
                return rounds;
            }));
        }
        for (Future<Integer> run : runs) {
            assertEquals(50, run.get());
        }
        pool.shutdown();
    }

    @Test
    void openSessionPassesFlagsAndOwnsThePeer() throws PKCS11Exception {
        bind(ScriptModule.path(), "session 77");
        NativePKCS11Slot slot = new NativePKCS11Slot(module, 4);
        NativePKCS11Session session = slot.openSession(6, "ignored", "ignored");
        assertSame(slot, session.getSlot());
        assertEquals(77, session.getSessionID());
        slot.closeAllSessions();
        assertEquals(List.of("C_OpenSession slot=4 flags=6 application=null notify=null",
                "C_CloseAllSessions slot=4"), ScriptModule.calls());
        ScriptModule.script("rv.C_OpenSession 0xB4");
        assertCode(0xB4, false, () -> slot.openSession(0, null, null));
    }

    @Test
    void loginPassesUserTypeAndPinBytes() throws PKCS11Exception {
        bind(ScriptModule.path(), "");
        NativePKCS11Session session = session(9);
        session.login(true, "1234");
        session.login(false, "");
        session.login(false, "p\u00e8n");
        session.loginAuthPath(true);
        session.loginAuthPath(false);
        session.initPIN("\u00e8");
        session.setPIN("ab", "");
        session.logout();
        session.close();
        assertEquals(List.of("C_Login session=9 userType=0 pin=31323334 pinLen=4",
                "C_Login session=9 userType=1 pin= pinLen=0",
                "C_Login session=9 userType=1 pin=70c3a86e pinLen=4",
                "C_Login session=9 userType=0 pin=null pinLen=0",
                "C_Login session=9 userType=1 pin=null pinLen=0",
                "C_InitPIN session=9 pin=c3a8 pinLen=2",
                "C_SetPIN session=9 old=6162 oldLen=2 new= newLen=0",
                "C_Logout session=9", "C_CloseSession session=9"), ScriptModule.calls());
    }

    @Test
    void nullPinsAndRefusedOperationsNeverReachTheModule() throws PKCS11Exception {
        bind(ScriptModule.path(), "");
        NativePKCS11Session session = session(9);
        assertMessage("Internal error", () -> session.login(false, null));
        assertMessage("Internal error", () -> session.initPIN(null));
        assertMessage("Internal error", () -> session.setPIN(null, "1"));
        assertMessage("Internal error", () -> session.setPIN("1", null));
        assertMessage("Not supported", session::getOperationState);
        assertMessage("Not supported", () -> session.setOperationState(null, null, null));
        assertEquals(List.of(), ScriptModule.calls());
    }

    @Test
    void sessionInfoDropsTheSlotAndErrorsAreThrown() throws PKCS11Exception {
        bind(ScriptModule.path(), "sessionInfo 5 3 6 4294967295");
        PKCS11SessionInfo info = session(2).getInfo();
        assertEquals(3, info.state);
        assertEquals(6, info.flags);
        assertEquals(-1, info.ulDeviceError);
        ScriptModule.script("rv.C_GetSessionInfo 0xB3", "rv.C_Login 0xA0", "rv.C_Logout 0x80000001");
        assertCode(0xB3, false, () -> session(2).getInfo());
        assertCode(0xA0, false, () -> session(2).login(false, "0000"));
        assertMessage("Internal error", () -> session(2).logout());
    }

    /** Subclasses of the peers, each hiding the handle field under a field of its own. */
    static final class OwnSlot extends NativePKCS11Slot {
        final int slotID = 99;

        OwnSlot(NativePKCS11 module, int slotID) {
            super(module, slotID);
        }
    }

    static final class OwnSession extends NativePKCS11Session {
        final int sessionID = 98;

        OwnSession(NativePKCS11Slot slot, int sessionID) {
            super(slot, sessionID);
        }
    }

    static final class OwnObject extends NativePKCS11Object {
        final int objectID = 97;
        final NativePKCS11Session session = null;

        OwnObject(NativePKCS11Session session, int objectID) {
            super(session, objectID);
        }
    }

    @Test
    void subclassedPeersAreReadThroughTheirPeerClass() throws PKCS11Exception {
        bind(ScriptModule.path(), "sessionInfo 5 3 6 0");
        NativePKCS11Slot slot = new OwnSlot(module, 6);
        slot.getInfo();
        NativePKCS11Session session = new OwnSession(slot, 7);
        session.getInfo();
        new OwnObject(session, 8).size();
        assertEquals(List.of("C_GetSlotInfo slot=6", "C_GetSessionInfo session=7",
                "C_GetObjectSize session=7 object=8"), ScriptModule.calls());
    }

    @Test
    void sessionCallsBeforeInitialiseAreInternalErrors() throws PKCS11Exception {
        ScriptModule.script("");
        module.loadPKCS11Library(ScriptModule.path());
        ScriptModule.clearCalls();
        assertMessage("Internal error", () -> session(1).login(false, "1234"));
        assertMessage("Internal error", () -> new NativePKCS11Slot(module, 0).getInfo());
        assertCode(0x80000003, true, () -> module.getRSAcredential("alias", 0, "1234"));
        assertEquals(List.of(), ScriptModule.calls());
    }

    @Test
    void rsaCredentialCallRecordAndPeers() throws PKCS11Exception {
        bind(ScriptModule.path(), "rsa.slot 3", "rsa.session 40", "rsa.private 11", "rsa.public 12",
                "rsa.certificate 13");
        NativePKCS11Object[] objects = module.getRSAcredential("alias\u00e8xyz", -1, null);
        assertEquals(List.of("C_OpenSessionAndGetRSACredential alias=" + ScriptModule.hex("alias\u00e8xyz")
                + " aliasLen=10 selector=4294967295 pin=null pinLen=0 reserved1=null reserved2=null"),
                ScriptModule.calls());
        assertEquals(3, objects.length);
        assertEquals(11, objects[0].getObjectID());
        assertEquals(12, objects[1].getObjectID());
        assertEquals(13, objects[2].getObjectID());
        NativePKCS11Session session = objects[0].getSession();
        assertSame(session, objects[1].getSession());
        assertSame(session, objects[2].getSession());
        assertEquals(40, session.getSessionID());
        assertEquals(3, session.getSlot().getSlotID());
        assertSame(module, session.getSlot().getModule());

        ScriptModule.script("rsa.session 41", "rsa.private 21", "rsa.public 22");
        objects = module.getRSAcredential("123456789", 7, "1234");
        assertEquals(List.of("C_OpenSessionAndGetRSACredential alias=313233343536373839 aliasLen=9 selector=7 "
                + "pin=31323334 pinLen=4 reserved1=null reserved2=null"), ScriptModule.calls());
        assertNull(objects[2]);
        assertNotNull(objects[0]);
        assertSame(objects[0].getSession(), objects[1].getSession());
    }

    @Test
    void rsaCredentialErrorsCarryTheVendorFlag() throws PKCS11Exception {
        bind(ScriptModule.path(), "rv.C_OpenSessionAndGetRSACredential 0xA0");
        assertCode(0xA0, false, () -> module.getRSAcredential("a", 0, "0000"));
        ScriptModule.script("rv.C_OpenSessionAndGetRSACredential 0x80000010");
        assertCode(0x80000010, true, () -> module.getRSAcredential("a", 0, "0000"));
        assertMessage("Internal error", () -> module.getRSAcredential(null, 0, "0000"));
    }

    @Test
    void moduleWithoutTheExtension() throws PKCS11Exception {
        bind(ScriptModule.pathWithoutExtension(), "");
        assertCode(0x80000001, true, () -> module.getRSAcredential("a", 0, null));
        assertCode(0x80000001, true, () -> module.getRSAcredential("a", 0, null));
        assertEquals(List.of(), ScriptModule.calls());
    }
}
