package it.vantrel.pkcs11.test;

import it.vantrel.pkcs11.PKCS11Exception;
import it.vantrel.pkcs11.nat.NativePKCS11;
import it.vantrel.pkcs11.nat.NativePKCS11Object;
import it.vantrel.pkcs11.nat.NativePKCS11Session;
import it.vantrel.pkcs11.nat.NativePKCS11Slot;

/**
 * Child-process driver for the lines the session natives print: binds the scriptable module,
 * then runs the steps given as arguments on session 7 and reports each outcome on standard
 * error. Steps: identrus, status, setstatus=N, logintirvex=BOOL:HEX, setpintirvex=HEX:HEX,
 * genkey (class and length Integers), genkeybad (a Long as second value), genkeyhuge (more entries
 * than the bridge allocates), sign (initialisation
 * and length query), wrap, unwrap, digest (refused), badlength (encrypt past the data array).
 */
public final class SessionScenarios {
    private SessionScenarios() {
    }

    public static void main(String[] args) throws PKCS11Exception {
        NativePKCS11 module = new NativePKCS11();
        module.loadPKCS11Library(ScriptModule.path());
        module.libInitialize();
        NativePKCS11Session session = new NativePKCS11Session(new NativePKCS11Slot(module, 0), 7);
        for (int i = 1; i < args.length; i++) {
            String step = args[i];
            try {
                System.err.println(step + " -> " + run(session, step));
            } catch (PKCS11Exception e) {
                System.err.println(step + " -> exception " + (e.hasErrorCode()
                        ? String.format("0x%x", e.getErrorCode()) : e.getMessage()));
            }
        }
        module.libFinalize();
    }

    private static byte[] bytes(String hex) {
        byte[] out = new byte[hex.length() / 2];
        for (int i = 0; i < out.length; i++) {
            out[i] = (byte) Integer.parseInt(hex.substring(2 * i, 2 * i + 2), 16);
        }
        return out;
    }

    private static Object run(NativePKCS11Session session, String step) throws PKCS11Exception {
        int equals = step.indexOf('=');
        String name = equals < 0 ? step : step.substring(0, equals);
        String[] parts = (equals < 0 ? "" : step.substring(equals + 1)).split(":", -1);
        switch (name) {
            case "identrus": {
                NativePKCS11Object object = session.getIdentrusObject();
                return object == null ? "null" : object.getObjectID();
            }
            case "status": return session.getCardStatus();
            case "setstatus": session.setCardStatus(Integer.parseInt(parts[0])); return "ok";
            case "logintirvex": session.logintirvex(Boolean.parseBoolean(parts[0]), bytes(parts[1])); return "ok";
            case "setpintirvex": session.setPINtirvex(bytes(parts[0]), bytes(parts[1])); return "ok";
            case "genkey": return session.generateKey(0x1080, null, new int[] {0x0, 0x161}, new Object[] {4, 32})
                    .getObjectID();
            case "genkeybad": return session.generateKey(0x1080, null, new int[] {0x0, 0x161}, new Object[] {4, 32L});
            case "genkeyhuge": return session.generateKey(0x1080, null, new int[12_000_000], new Object[12_000_000]);
            case "sign": {
                session.signInit(0x40, null, new NativePKCS11Object(session, 42));
                return session.sign(new byte[4], 0, 4, null, 0);
            }
            case "wrap": return session.wrapKey(0x2109, null, new NativePKCS11Object(session, 3),
                    new NativePKCS11Object(session, 4), new byte[8], 0);
            case "unwrap": return session.unwrapKey(0x2109, null, new NativePKCS11Object(session, 3), new byte[8], 0, 8,
                    new int[0], new Object[0]).getObjectID();
            case "digest": session.digestInit(0x250, null); return "ok";
            case "badlength": return session.encrypt(new byte[8], 0, 9, new byte[16], 0);
            default: throw new IllegalArgumentException("unknown step " + step);
        }
    }
}
