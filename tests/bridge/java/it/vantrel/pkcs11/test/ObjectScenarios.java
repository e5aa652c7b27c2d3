package it.vantrel.pkcs11.test;

import it.vantrel.pkcs11.PKCS11Exception;
import it.vantrel.pkcs11.nat.NativePKCS11;
import it.vantrel.pkcs11.nat.NativePKCS11Object;
import it.vantrel.pkcs11.nat.NativePKCS11Session;
import it.vantrel.pkcs11.nat.NativePKCS11Slot;

/**
 * Child-process driver for the lines the object natives print. The first step binds a module:
 * "script" (session peer 7 on the scriptable module) or "softhsm" (a logged-in read-write
 * session on the fixture's token). Then, on object 5 of that session: install=LABEL,
 * ob=BOOL, create, find, setlong (a Long in third place), getint=TYPE, getbig=TYPE,
 * getdate=TYPE, genkeypair. Outcomes go to standard error.
 */
public final class ObjectScenarios {
    private ObjectScenarios() {
    }

    public static void main(String[] args) throws PKCS11Exception {
        NativePKCS11 module = new NativePKCS11();
        NativePKCS11Session session = bind(module, args[1]);
        NativePKCS11Object object = new NativePKCS11Object(session, 5);
        for (int i = 2; i < args.length; i++) {
            String step = args[i];
            try {
                System.err.println(step + " -> " + run(session, object, step));
            } catch (PKCS11Exception e) {
                System.err.println(step + " -> exception " + (e.hasErrorCode()
                        ? String.format("0x%x", e.getErrorCode()) : e.getMessage()));
            }
        }
    }

    private static NativePKCS11Session bind(NativePKCS11 module, String which) throws PKCS11Exception {
        if (which.equals("script")) {
            module.loadPKCS11Library(ScriptModule.path());
            module.libInitialize();
            return new NativePKCS11Session(new NativePKCS11Slot(module, 0), 7);
        }
        module.loadPKCS11Library(SoftHsm.path());
        module.libInitialize();
        for (NativePKCS11Slot slot : module.getSlotList(true)) {
            if (slot.getTokenInfo().label.trim().equals(SoftHsm.LABEL)) {
                NativePKCS11Session session = slot.openSession(6, null, null);
                session.login(false, SoftHsm.USER_PIN);
                return session;
            }
        }
        throw new IllegalStateException("no initialised token");
    }

    private static Object run(NativePKCS11Session session, NativePKCS11Object object, String step)
            throws PKCS11Exception {
        int equals = step.indexOf('=');
        String name = equals < 0 ? step : step.substring(0, equals);
        String value = equals < 0 ? "" : step.substring(equals + 1);
        switch (name) {
            case "install":
                session.installCertificate(1, 0, new byte[] {0x30, 0x03, 0x02, 0x01, 0x05}, 0, 5, "CN=Subject", "05",
                        "CN=Issuer", value);
                return "ok";
            case "ob": {
                Object[] pair = session.generateKeyPairOB(0, Boolean.parseBoolean(value));
                return pair == null ? "null" : pair.length;
            }
            case "create": {
                NativePKCS11Object created = session.createObject(new int[] {0x0, 0x3}, new Object[] {0, "d"});
                return created == null ? "null" : created.getObjectID();
            }
            case "find": {
                session.findObjectsInit(null, null);
                int count = 0;
                while (session.findObject() != null) {
                    count++;
                }
                session.findObjectsFinal();
                return count;
            }
            case "setlong":
                object.setAttributeValues(new int[] {0x3, 0x3, 0x3, 0x3, 0x3}, new Object[] {"a", "b", 3L, "d", "e"});
                return "ok";
            case "getint": return object.getAttributeValue(Integer.decode(value));
            case "getbig": return object.getBigIntegerAttributeValue(Integer.decode(value));
            case "getdate": return object.getDateAttributeValue(Integer.decode(value)).getTime() > 0;
            case "genkeypair": {
                Object[] pair = session.generateKeyPair(0, null, new int[] {0x1}, new Object[] {true}, new int[0],
                        new Object[0]);
                return pair == null ? "null" : pair.length;
            }
            default: throw new IllegalArgumentException("unknown step " + step);
        }
    }
}
