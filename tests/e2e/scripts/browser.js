#!/usr/bin/env node
// Plays the user's browser for one sign-in: presses the connection page's "Allow this Mac" button and hands
// the tarnwick: link the service answers with to the program in $TARNWICK_E2E_APP, as the desktop does.
'use strict';
const { execFileSync } = require('child_process');
(async (pageUrl) => {
  const text = await (await fetch(pageUrl)).text();
  const connection = /name="connection" value="([^"]*)"/.exec(text);
  if (!connection) throw new Error(`the connection page has no "Allow this Mac" form: ${text}`);
  const approval = await fetch(new URL('/connect/approve', pageUrl), {
    method: 'POST', redirect: 'manual', body: new URLSearchParams({ connection: connection[1] }) });
  const callback = approval.headers.get('location') || '';
  if (!callback.startsWith('tarnwick:')) throw new Error(`approving answered ${approval.status} without a tarnwick: link`);
  execFileSync(process.env.TARNWICK_E2E_APP, [callback], { stdio: 'inherit' });
})(process.argv[2]).catch((error) => { console.error(`browser: ${error.message}`); process.exit(1); });
