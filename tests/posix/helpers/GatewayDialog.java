// A Java AWT program like the gateway: a main frame and a non-modal dialog owned by it,
// whose focused default button prints "pressed" and ends the program with status 0.
// Arguments: the dialog's title, the frame's title and, optionally, a file it creates once
// the button holds the keyboard focus (a space key pressed from then on presses it; "-" for
// none) and how many seconds it lives. It ends by itself (status 3) after that long (two
// minutes by default) so that it never outlives a test for long.

import java.awt.event.FocusAdapter;
import java.awt.event.FocusEvent;
import java.awt.event.WindowAdapter;
import java.awt.event.WindowEvent;
import javax.swing.JButton;
import javax.swing.JDialog;
import javax.swing.JFrame;
import javax.swing.SwingUtilities;
import javax.swing.Timer;

import java.io.File;
import java.io.IOException;

public class GatewayDialog {
    public static void main(String[] args) {
        final String dialogTitle = args.length > 0 ? args[0] : "Warning";
        final String frameTitle = args.length > 1 ? args[1] : "Gateway";
        final String focusReport = args.length > 2 && !args[2].equals("-") ? args[2] : null;
        final int lifeSeconds = args.length > 3 ? Integer.parseInt(args[3]) : 120;
        SwingUtilities.invokeLater(() -> {
            JFrame frame = new JFrame(frameTitle);
            frame.setSize(320, 200);
            frame.setVisible(true);

            JDialog dialog = new JDialog(frame, dialogTitle, false);
            JButton ok = new JButton("OK");
            ok.addActionListener(e -> {
                System.out.println("pressed");
                System.out.flush();
                System.exit(0);
            });
            ok.addFocusListener(new FocusAdapter() {
                @Override
                public void focusGained(FocusEvent e) {
                    if (focusReport == null)
                        return;
                    try {
                        new File(focusReport).createNewFile();
                    } catch (IOException error) {
                        System.exit(4);
                    }
                }
            });
            dialog.getContentPane().add(ok);
            dialog.getRootPane().setDefaultButton(ok);
            dialog.setSize(240, 120);
            dialog.addWindowListener(new WindowAdapter() {
                @Override
                public void windowOpened(WindowEvent e) {
                    ok.requestFocusInWindow();
                }
            });
            dialog.setVisible(true);

            Timer giveUp = new Timer(lifeSeconds * 1000, e -> System.exit(3));
            giveUp.setRepeats(false);
            giveUp.start();
        });
    }
}
