#!/usr/bin/env node
// Plays the user's browser for one sign-in: opens the connection page, presses its "Allow this Mac"
// button, and hands the tarnwick: link the service answers with to the program in $TARNWICK_E2E_APP, as
// the desktop does.
'use strict';
const { execFileSync } = require('child_process');

async function signIn(pageUrl) {
  const page = await fetch(pageUrl);
  const text = await page.text();
  const connection = /name="connection" value="([^"]*)"/.exec(text);
  if (page.status !== 200 || !connection)
    throw new Error(`the connection page answered ${page.status} without an "Allow this Mac" form: ${text}`);
  const approval = await fetch(new URL('/connect/approve', pageUrl), {
    method: 'POST', redirect: 'manual', body: new URLSearchParams({ connection: connection[1] }),
  });
  const callback = approval.headers.get('location');
  if (approval.status < 300 || approval.status > 399 || !callback || !callback.startsWith('tarnwick:'))
    throw new Error(`approving answered ${approval.status} without a tarnwick: link: ${await approval.text()}`);
  execFileSync(process.env.TARNWICK_E2E_APP, [callback], { stdio: 'inherit' });
}

signIn(process.argv[2]).catch((error) => {
  console.error(`browser: ${error.message}`);
  process.exit(1);
});
