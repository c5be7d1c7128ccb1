// NOT RUN BY THE TESTS: this C# version is text only (the tests run session.vbs and session.js).
//
// A till's session with the payment driver (ProgID Qelm.tolvaro) in C#, late-bound through
// `dynamic`: the same session as session.vbs, step by step, with its messages. The process
// must have the driver's bitness:
//   csc /platform:x86 Session.cs     (the 32-bit tolvaro.dll)
//   csc /platform:x64 Session.cs     (the 64-bit one)
//   Session.exe /host:URL /key:TERMINAL /password:SECRET [/amount:12.34] [/refund:2.34] [/devices:FOLDER]
// OutData and the descriptions of Init and Open come back through `ref object` (the driver
// writes into a variant by reference); amounts go as decimal (the driver takes them as Currency).
using System;
using System.Globalization;
using System.Runtime.InteropServices;

// The equipment manager: the driver calls it through IDispatch by name. This driver calls only
// GetAppProperty (ModelsFolder and Language at Init, DevicesFolder at Open); the others are the
// host's too, with their argument forms.
[ComVisible(true)]
[ClassInterface(ClassInterfaceType.AutoDispatch)]
public class EquipmentManager
{
    public string DevicesFolder = "";

    // All three arrive as strings by reference; value takes the answer. False: no such property.
    public bool GetAppProperty(ref string deviceId, ref string propName, ref string value)
    {
        if (propName == "DevicesFolder" && DevicesFolder != "") { value = DevicesFolder; return true; }
        if (propName == "Language") { value = "ru"; return true; }
        return false;
    }
    public bool DataEvent(string deviceId, string eventName, string data, ref object extData) { return true; }
    public bool ErrorEvent(string deviceId, string errorName, string description, ref object extData) { return true; }
    public int MessageDlg(string deviceId, string text, ref int msgType, ref int buttons, ref int timeout) { return 0; }
    public string InputDataDlg(string deviceId, string caption, string defaultData, string description, string mask,
                               bool password, ref int timeOut) { return ""; }
    public bool TaskState(string deviceId, ref int percent, string description) { return true; }
    public bool WriteLog(string deviceId, string name, string text, ref int eventType) { return true; }
}

static class Session
{
    static string Arg(string[] args, string name, string byDefault)
    {
        foreach (string a in args)
            if (a.StartsWith("/" + name + ":", StringComparison.OrdinalIgnoreCase)) return a.Substring(name.Length + 2);
        return byDefault;
    }

    // "12.34" whatever the user's locale (a till passes amounts as decimal, never as text).
    static decimal Amount(string text) { return decimal.Parse(text, CultureInfo.InvariantCulture); }
    static string Money(object value) { return Convert.ToDecimal(value).ToString("0.00", CultureInfo.InvariantCulture); }

    static void Say(string text) { Console.WriteLine(text); }

    static int Quit(string text)
    {
        Say("FAILED: " + text);
        return 1;
    }

    // The bank has not said whether the customer paid: the sale stays open, never "not paid".
    static int Unknown(string text)
    {
        return Quit(text + ": whether it is paid is unknown; keep the sale open and ask GetQrCodeStatus again later");
    }

    // A failed method leaves [code, text] in OutData.
    static string Failure(object outData)
    {
        object[] error = (object[])outData;
        return error[0] + " " + error[1];
    }

    // What is left of a payment after refunds, or -1 when the bank cannot say.
    static decimal Remaining(dynamic drv, string qrCodeId)
    {
        object outData = null;
        if (!drv.GetQrCodeStatus(new object[] { qrCodeId, qrCodeId }, ref outData, 0)) return -1;
        return Convert.ToDecimal(((object[])outData)[0]);
    }

    // The driver lives in the apartment of the thread that creates it: a single-threaded one.
    // Pay blocks this thread for up to WaitTimeout seconds; a till with a window creates and calls
    // the driver on a worker thread of its own (help: "Время ожидания и потоки").
    [STAThread]
    static int Main(string[] args)
    {
        Type type = Type.GetTypeFromProgID("Qelm.tolvaro");
        if (type == null) return Quit("Qelm.tolvaro is not registered for this bitness");
        dynamic drv = Activator.CreateInstance(type);

        var manager = new EquipmentManager { DevicesFolder = Arg(args, "devices", "") };
        object description = null;
        if (!drv.Init(manager, ref description)) return Quit("Init: " + description);
        Say("Init: " + description);
        if (!drv.Open("Till1", ref description)) return Quit("Open: " + description);
        Say("Open: " + description);

        // Settings: a column per setting, row 0 its ID, row 1 its value; the driver keeps the
        // others as they are. They take effect at the next Enable.
        object[,] table = new object[2, 6];
        object[] ids = { "Host", "TerminalKey", "Password", "WaitTimeout", "LineLength", "DebugLogEnabled" };
        object[] values = { Arg(args, "host", ""), Arg(args, "key", ""), Arg(args, "password", ""), 60, 32, true };
        for (int i = 0; i < ids.Length; i++) { table[0, i] = ids[i]; table[1, i] = values[i]; }
        object outData = null;
        if (!drv.SetSettings(new object[] { table }, ref outData, 0)) return Quit("SetSettings: " + Failure(outData));
        if (!drv.Enable(null, ref outData, 0)) return Quit("Enable: " + Failure(outData));
        Say("Enable: the settings are in force (no request went to the bank)");

        // Register: two bank requests. Keep the identifiers before anything else: after a crash the
        // till asks GetQrCodeStatus for every payment it has not finished (help: "Восстановление").
        decimal sale = Amount(Arg(args, "amount", "12.34"));
        if (!drv.RegisterQrCode(new object[] { sale, "Order 1" }, ref outData, 0))
            return Quit("RegisterQrCode: " + Failure(outData));
        object[] qr = (object[])outData;
        string qrCodeId = (string)qr[0], orderId = (string)qr[3];
        Say("RegisterQrCode: " + Money(sale) + ", show the customer this QR code: " + qr[1]);

        // Pay: waits at most WaitTimeout seconds and cannot be interrupted. The identifier goes in
        // element 1 (element 0 must be there too): the same one in both.
        string paymentId;
        if (!drv.Pay(new object[] { qrCodeId, orderId }, ref outData, 0))
        {
            // 1001 from Pay never means "not paid": the bank decides, so ask it.
            Say("Pay: " + Failure(outData));
            if (!drv.GetQrCodeStatus(new object[] { qrCodeId, orderId }, ref outData, 0))
                return Unknown("GetQrCodeStatus: " + ((object[])outData)[1]);
            if (Convert.ToInt32(((object[])outData)[4]) == 1)
            {
                // Still waiting: withdraw the QR code, then ask again, for the customer may have paid
                // in the last second (the withdrawal is then refused).
                object withdrawn = null;
                if (!drv.UnregisterQrCode(new object[] { qrCodeId }, ref withdrawn, 0))
                    Say("UnregisterQrCode: " + Failure(withdrawn));
                if (!drv.GetQrCodeStatus(new object[] { qrCodeId, orderId }, ref outData, 0))
                    return Unknown("GetQrCodeStatus: " + ((object[])outData)[1]);
            }
            object[] status = (object[])outData;
            switch (Convert.ToInt32(status[4]))
            {
                case 2: Say("  the bank says it is paid after all"); break;
                case 3: return Quit("not paid: the QR code is withdrawn, rejected or cancelled");
                default: return Unknown("status " + status[4]);
            }
            paymentId = (string)status[1];
        }
        else
        {
            object[] paid = (object[])outData;
            paymentId = (string)paid[1];
            Say("Pay: paid " + Money(paid[0]) + ", payment " + paymentId);
            Say((string)paid[3]);
        }

        if (!drv.GetQrCodeStatus(new object[] { qrCodeId, orderId }, ref outData, 0))
            return Quit("GetQrCodeStatus: " + ((object[])outData)[1]);
        object[] state = (object[])outData;
        Say("GetQrCodeStatus: status " + state[4] + ", left " + Money(state[0]));

        // Refund: every call is a new refund. When its outcome is unknown, compare what is left
        // before trying again: if it went down by the refund, the first one went through.
        decimal back = Amount(Arg(args, "refund", "2.34")), leftBefore = Convert.ToDecimal(state[0]);
        if (!drv.Refund(new object[] { back, orderId, paymentId, qrCodeId }, ref outData, 0))
        {
            Say("Refund: " + Failure(outData));
            decimal leftAfter = Remaining(drv, qrCodeId);
            if (leftAfter == -1)
                return Quit("the refund's outcome is unknown: do not repeat it; ask GetQrCodeStatus later and compare " +
                            "what is left with " + Money(leftBefore));
            if (leftAfter == leftBefore)
                return Quit("the refund was not made (" + Money(leftAfter) + " left): it may be tried again");
            if (leftAfter != leftBefore - back)
                return Quit("what is left changed otherwise (" + Money(leftAfter) + "): check the payment's refunds with the bank");
            Say("  it went through all the same: not repeated");
        }
        else
        {
            Say("Refund: " + Money(back) + " returned, refund " + ((object[])outData)[0]);
            Say((string)((object[])outData)[1]);
        }
        Say("GetQrCodeStatus: left " + Money(Remaining(drv, qrCodeId)));

        // ---- Failures a till must tell apart

        // The bank refuses: nothing was done, and what is left stays as it was.
        leftBefore = Remaining(drv, qrCodeId);
        if (drv.Refund(new object[] { leftBefore + 1, orderId, paymentId, qrCodeId }, ref outData, 0))
            return Quit("a refund of more than is left was made");
        Say("Refund of more than is left: " + Failure(outData));
        if (Remaining(drv, qrCodeId) == leftBefore) Say("  left " + Money(leftBefore) + ", unchanged");

        // A paid QR code cannot be withdrawn: the bank refuses, and the status says why.
        if (drv.UnregisterQrCode(new object[] { qrCodeId }, ref outData, 0)) return Quit("a paid QR code was withdrawn");
        Say("UnregisterQrCode of a paid QR code: " + Failure(outData));

        // TimeOut must be an integer: a double is refused by COM (E_INVALIDARG) before the method runs.
        // .NET raises E_INVALIDARG as an ArgumentException (HResult 0x80070057).
        try { drv.GetQrCodeStatus(new object[] { qrCodeId, orderId }, ref outData, 1.5); }
        catch (Exception e) { Say("TimeOut 1.5: refused by COM, error " + e.HResult.ToString("X8") + ", not run"); }

        drv.Disable(null, ref outData, 0);
        // Before Enable, and after Disable, the payment methods answer 70 at once, without the bank.
        if (!drv.GetQrCodeStatus(new object[] { qrCodeId, orderId }, ref outData, 0)) Say("After Disable: " + Failure(outData));
        drv.Close();
        Marshal.FinalReleaseComObject(drv);
        Say("Session done");
        return 0;
    }
}
