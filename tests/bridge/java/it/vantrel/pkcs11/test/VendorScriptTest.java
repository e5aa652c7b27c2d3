package it.vantrel.pkcs11.test;

import static it.vantrel.pkcs11.test.SessionScript.ARGUMENTS_BAD;
import static it.vantrel.pkcs11.test.SessionScript.assertCode;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertTrue;

import it.vantrel.pkcs11.PKCS11Exception;
import it.vantrel.pkcs11.nat.NativePKCS11Object;
import it.vantrel.pkcs11.nat.NativePKCS11Session;

import java.util.List;

import org.junit.jupiter.api.Test;

/** Byte PINs and the Identrus application natives against the scriptable module. */
class VendorScriptTest extends SessionSuite {
    /** The status attribute's scripted value: "attribute.<decimal type>". */
    private static final String STATUS = "attribute." + 0x80004400L;
    /** The application key value 0x80008001 as one CK_ULONG of this platform (linux64). */
    private static final String SEARCH = "C_FindObjectsInit session=7 template=[0x80000201=0180008000000000] count=1";
    private static final String FIND = "C_FindObjects session=7 max=1";
    private static final String FINAL = "C_FindObjectsFinal session=7";

    @Test
    void bytePinsPassEveryByteWithTheArrayLength() throws PKCS11Exception {
        NativePKCS11Session session = bind();
        session.logintirvex(false, new byte[] {'1', 0, '2', (byte) 0xFF});
        session.logintirvex(true, new byte[0]);
        session.setPINtirvex(new byte[] {0, 0}, new byte[] {'a', 0, 'b'});
        assertEquals(List.of("C_Login session=7 userType=1 pin=310032ff pinLen=4",
                // An empty PIN still comes with a pointer (the record says "null" otherwise).
                "C_Login session=7 userType=0 pin= pinLen=0",
                "C_SetPIN session=7 old=0000 oldLen=2 new=610062 newLen=3"), ScriptModule.calls());
    }

    @Test
    void bytePinErrorsAndMissingArrays() throws PKCS11Exception {
        NativePKCS11Session session = bind("rv.C_Login 0xA0", "rv.C_SetPIN 0x80000010");
        assertCode(0xA0, () -> session.logintirvex(false, new byte[] {1}));
        SessionScript.assertMessage("Internal error", () -> session.setPINtirvex(new byte[1], new byte[1]));
        ScriptModule.clearCalls();
        assertCode(ARGUMENTS_BAD, () -> session.logintirvex(false, null));
        assertCode(ARGUMENTS_BAD, () -> session.setPINtirvex(null, new byte[1]));
        assertCode(ARGUMENTS_BAD, () -> session.setPINtirvex(new byte[1], null));
        assertEquals(List.of(), ScriptModule.calls());
    }

    @Test
    void identrusObjectIsFoundByTheVendorTemplate() throws PKCS11Exception {
        NativePKCS11Session session = bind("find.handles 5 6");
        NativePKCS11Object object = session.getIdentrusObject();
        assertEquals(5, object.getObjectID());
        assertSame(session, object.getSession());
        assertEquals(List.of(SEARCH, FIND, FINAL), ScriptModule.calls());
    }

    @Test
    void aCardWithoutTheApplicationGivesHandleZero() throws PKCS11Exception {
        NativePKCS11Session session = bind("rv.C_GetAttributeValue 0x82");
        assertEquals(0, session.getIdentrusObject().getObjectID());
        // The status natives then meet the module's answer for handle 0.
        assertCode(0x82, session::getCardStatus);
        assertCode(0x82, () -> session.setCardStatus(1));
        assertTrue(ScriptModule.calls().stream().noneMatch(call -> call.startsWith("C_SetAttributeValue")));
    }

    @Test
    void searchFailuresAreResultsNotExceptions() throws PKCS11Exception {
        NativePKCS11Session session = bind("rv.C_FindObjectsInit 0x91", "find.handles 5");
        assertNull(session.getIdentrusObject());
        assertEquals(-1, session.getCardStatus());
        session.setCardStatus(8);
        assertEquals(List.of(SEARCH, SEARCH, SEARCH), ScriptModule.calls());

        ScriptModule.script("rv.C_FindObjects 0x30", "find.handles 5");
        assertNull(session.getIdentrusObject());
        assertEquals(-1, session.getCardStatus());
        session.setCardStatus(8);
        // A failed search is not finalised.
        assertEquals(List.of(SEARCH, FIND, SEARCH, FIND, SEARCH, FIND), ScriptModule.calls());
    }

    @Test
    void statusIsTheFirstByteSignExtended() throws PKCS11Exception {
        NativePKCS11Session session = bind("find.handles 5", STATUS + " 80ff");
        assertEquals(-128, session.getCardStatus());
        assertEquals(List.of(SEARCH, FIND, FINAL, "C_GetAttributeValue session=7 object=5 count=1",
                "C_GetAttributeValue session=7 object=5 count=1"), ScriptModule.calls());
        ScriptModule.script("find.handles 5", STATUS + " 7f");
        assertEquals(127, session.getCardStatus());
        ScriptModule.script("find.handles 5", STATUS + " ");
        assertEquals(0, session.getCardStatus());
    }

    @Test
    void setStatusWritesTheLowByte() throws PKCS11Exception {
        NativePKCS11Session session = bind("find.handles 5", STATUS + " 03");
        for (int status : new int[] {8, 264, 255, -1}) {
            ScriptModule.clearCalls();
            session.setCardStatus(status);
            List<String> calls = ScriptModule.calls();
            assertEquals(String.format("C_SetAttributeValue session=7 object=5 template=[0x80004400=%02x] count=1",
                    status & 0xFF), calls.get(calls.size() - 1));
        }
    }

    @Test
    void failedStatusReadOrWriteIsThrownOnce() throws PKCS11Exception {
        NativePKCS11Session session = bind("find.handles 5", "rv.C_GetAttributeValue 0x12");
        assertCode(0x12, session::getCardStatus);
        // Without a current status nothing is written.
        assertCode(0x12, () -> session.setCardStatus(8));
        assertTrue(ScriptModule.calls().stream().noneMatch(call -> call.startsWith("C_SetAttributeValue")));
        ScriptModule.script("find.handles 5", STATUS + " 01", "rv.C_SetAttributeValue 0x91");
        assertCode(0x91, () -> session.setCardStatus(8));
    }

    private static String runPrinted(String... steps) {
        return runTraced(null, steps);
    }

    private static String runTraced(String debug, String... steps) {
        BridgeProcess run = BridgeProcess.runDriver(SessionScenarios.class, debug, "vendor", steps);
        assertEquals(0, run.exitCode, run.stderr);
        return run.stdout;
    }

    @Test
    void applicationNativesPrintTheirLinesWithTheTraceOff() {
        ScriptModule.script("find.handles 5", STATUS + " 80");
        String start = "(session= 7)\nIdentrus application id = 5";
        assertEquals("JNI: start PKCS11Session.getIdentrusObject... " + start + "JNI: creating PKCS11Object (5)..."
                + "JNI: start PKCS11Session.getCardStatus oberthur... " + start + "\nlifeCycle status -128\n",
                runPrinted("identrus", "status"));

        ScriptModule.script("find.handles 5", STATUS + " 03");
        String set = "JNI: start PKCS11Session.setCardStatus oberthur... " + start + "\nCurrent lifeCycle status 3\n";
        assertEquals(set + "Setting status to pre.first use\nSetting lifeCycle status to 8\n"
                + set + "Setting lifeCycle status to 8\n"
                + set + "Setting lifeCycle status to -1\n",
                runPrinted("setstatus=8", "setstatus=264", "setstatus=255"));
    }

    @Test
    void failuresPrintTheirLines() {
        ScriptModule.script("rv.C_FindObjectsInit 0x91");
        assertEquals("JNI: start PKCS11Session.getIdentrusObject... (session= 7)\n"
                + "Identrus application id = -1unable to find attribute: error -1"
                + "JNI: start PKCS11Session.getCardStatus oberthur... (session= 7)\n"
                + "Identrus application id = -1\nunable to find attribute: error -1\n",
                runPrinted("identrus", "status"));
        ScriptModule.script("find.handles 5", STATUS + " 03", "rv.C_SetAttributeValue 0x91");
        String printed = runPrinted("setstatus=1");
        assertTrue(printed.endsWith("Setting lifeCycle status to 1\nError number : 145\n"), printed);
    }

    @Test
    void bytePinNativesTraceOnlyWhenAsked() {
        ScriptModule.script("");
        assertEquals("", runPrinted("logintirvex=false:3100", "setpintirvex=31:32"));
        String traced = runTraced("1", "logintirvex=false:3100", "setpintirvex=31:3233");
        assertTrue(traced.contains("JNI: start PKCS11Session.login tirvex... (session= 7)\n"
                + "JNI:BRIDGE: Calling C_Login (len=2)... Done\n"
                + "JNI: start PKCS11Session.setPin tirvex... (session= 7)\n"
                + "JNI:BRIDGE: Calling C_SetPIN...JNI:BRIDGE: Calling C_SetPIN (len=1)..."
                + "JNI:BRIDGE: Calling C_SetPIN (len=2)... Done\n"), traced);
    }
}
